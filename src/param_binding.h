// Script values for a statement's placeholders: looked up in the caller's
// container, converted to client types and bound into the connection's
// parameter set.
#ifndef RIZEZOVA_SRC_PARAM_BINDING_H
#define RIZEZOVA_SRC_PARAM_BINDING_H

#include <node.h>

#include <string>
#include <vector>

#include "client/vmc.h"
#include "src/placeholders.h"

namespace zorezu {

class ParamValues {
 public:
  // Looks up and converts the value of every placeholder: the container's
  // property of the placeholder's name, else its element at the placeholder's
  // index. Without an object to look in, every value is null. Property
  // getters and string conversions may run script: false when one threw (the
  // exception stays pending and nothing is kept).
  bool collect(v8::Isolate* isolate, const Placeholders& marks, v8::Local<v8::Value> container);

  // Why the collected values cannot be sent (a value that has no client
  // form, naming its parameter); empty when they can.
  const std::string& refusal() const { return refusal_; }

  // Binds the collected values into the connection's transient parameter
  // set; no script runs here.
  void bind(const Placeholders& marks, VMC_Handle* conn);

 private:
  struct Value {
    bool present = false;  // false: a value of no bindable kind, skipped
    int ctype = 0;         // 0: a null, sent without bytes
    std::string bytes;     // the value as the library copies it
  };

  bool convert(v8::Isolate* isolate, v8::Local<v8::Value> value, Value* out, std::string* refusal);

  std::vector<Value> values_;
  std::string refusal_;
};

}  // namespace zorezu

#endif
