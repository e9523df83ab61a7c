// The script's query object: the outcome of a query without a callback, read
// forwards one row at a time.
#ifndef RIZEZOVA_SRC_VM_QUERY_H
#define RIZEZOVA_SRC_VM_QUERY_H

#include <node.h>
#include <node_object_wrap.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/vmc.h"
#include "client/vmc_internal.h"
#include "src/column_values.h"

namespace zorezu {

class VMConnection;

class VMQuery : public node::ObjectWrap {
 public:
  static void Init(v8::Isolate* isolate);

  // A query object from query's init array: [column count, a number that
  // names no result, error object or null]. The result that query opened,
  // if any, passes to the object here and never through script; `owner`
  // (whose script object is `owner_object`) then frees it if it closes first.
  static v8::MaybeLocal<v8::Object> NewInstance(v8::Isolate* isolate, v8::Local<v8::String> sql,
                                                v8::Local<v8::Array> init, VMC_Handle result, VMConnection* owner,
                                                v8::Local<v8::Object> owner_object);

  // The owner is about to close its client connection: the result goes now
  // (its cursor closed first when talk is true), and reads report the closed
  // link from then on.
  void connection_closed(bool talk);
  // The link failed under the result: it goes, and reads report the closed
  // link from then on.
  void lose_result(bool talk = true);

 private:
  VMQuery() = default;
  ~VMQuery() override;

  static void New(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void on(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void nextRecord(const v8::FunctionCallbackInfo<v8::Value>& args);

  void Close(bool talk = true);
  void fields(v8::Isolate* isolate, v8::Local<v8::Value> callback);
  // Moves to the next row and hands it to the callback; data errors are
  // thrown after the callback has had the row.
  void next_row(v8::Isolate* isolate, v8::Local<v8::Object> holder, v8::Local<v8::Value> callback,
                RowCaller caller);
  v8::Local<v8::Value> error_value(v8::Isolate* isolate) const;

  static v8::Persistent<v8::Function> constructor;

  std::optional<std::string> sql_text;
  VMC_Handle p_res = nullptr;
  std::optional<std::string> err_text;
  int32_t field_num = 0;

  VMConnection* owner_ = nullptr;
  ColumnReader reader_{RowCaller::OnResult};
  // next_row's room for one row, kept between rows so that a row costs no
  // allocation of its own; each row fills them before it uses them.
  std::vector<vmc_cell> cells_;
  std::vector<v8::Local<v8::Value>> values_;
};

}  // namespace zorezu

#endif
