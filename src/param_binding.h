// Script values for a statement's placeholders: looked up in the caller's
// container, converted to client types and bound into the connection's
// parameter set.
#ifndef RIZEZOVA_SRC_PARAM_BINDING_H
#define RIZEZOVA_SRC_PARAM_BINDING_H

#include <node.h>

#include <cstdint>
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

  // Binds the collected values into the connection's transient parameter
  // set; no script runs here.
  void bind(const Placeholders& marks, VMC_Handle* conn);

 private:
  struct Value {
    bool present = false;  // false: a value of no bindable kind, skipped
    int ctype = 0;
    int32_t i32 = 0;
    double f64 = 0;
    uint8_t flag = 0;
    std::string bytes;
  };

  bool convert(v8::Isolate* isolate, v8::Local<v8::Value> value, Value* out);

  std::vector<Value> values_;
};

}  // namespace zorezu

#endif
