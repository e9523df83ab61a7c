// The query object: field descriptions and rows one at a time.
#include "src/vm_query.h"

#include <cstring>

#include "src/script_util.h"
#include "src/vm_connection.h"

namespace zorezu {

v8::Persistent<v8::Function> VMQuery::constructor;

namespace {

constexpr int kOwnerField = 1;  // the connection object, kept alive while the result is read
constexpr int kMakerField = 2;  // the maker of row objects, made at the first row

// The result that query is handing to the query object it is making; a
// number from anywhere else never becomes a handle.
VMC_Handle pending_result = nullptr;

VMC_Handle handle_from_number(double number) {
  VMC_Handle handle;
  static_assert(sizeof handle == sizeof number);
  std::memcpy(&handle, &number, sizeof handle);
  return handle;
}

}  // namespace

void VMQuery::Init(v8::Isolate* isolate) {
  v8::Local<v8::FunctionTemplate> tpl = v8::FunctionTemplate::New(isolate, New);
  tpl->SetClassName(key_string(isolate, "VMQuery"));
  tpl->InstanceTemplate()->SetInternalFieldCount(3);
  NODE_SET_PROTOTYPE_METHOD(tpl, "on", on);
  NODE_SET_PROTOTYPE_METHOD(tpl, "nextRecord", nextRecord);
  constructor.Reset(isolate, tpl->GetFunction(isolate->GetCurrentContext()).ToLocalChecked());
}

void VMQuery::New(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  if (!args.IsConstructCall()) {
    v8::Local<v8::Value> argv[] = {args[0]};
    v8::Local<v8::Object> instance;
    if (constructor.Get(isolate)->NewInstance(context, 1, argv).ToLocal(&instance)) {
      args.GetReturnValue().Set(instance);
    }
    return;
  }
  auto* self = new VMQuery();
  self->Wrap(args.This());
  args.GetReturnValue().Set(args.This());
  if (args[0]->IsString()) self->sql_text = utf8_text(isolate, args[0]);
  if (!args[1]->IsArray()) return;
  v8::Local<v8::Array> init = args[1].As<v8::Array>();
  if (init->Length() != 3) return;
  v8::Local<v8::Value> count, handle, error;
  if (!init->Get(context, 0).ToLocal(&count) || !init->Get(context, 1).ToLocal(&handle) ||
      !init->Get(context, 2).ToLocal(&error)) {
    return;
  }
  if (!error->IsNull()) {
    v8::Local<v8::Object> object;
    v8::Local<v8::Value> text;
    if (!error->ToObject(context).ToLocal(&object) ||
        !object->Get(context, key_string(isolate, "Error")).ToLocal(&text)) {
      return;
    }
    self->err_text = utf8_text(isolate, text);
    return;
  }
  if (!handle->IsNumber() || !pending_result) return;
  if (handle_from_number(handle.As<v8::Number>()->Value()) != pending_result) return;
  self->p_res = pending_result;
  pending_result = nullptr;
  self->field_num = count->Int32Value(context).FromMaybe(0);
}

v8::MaybeLocal<v8::Object> VMQuery::NewInstance(v8::Isolate* isolate, v8::Local<v8::String> sql,
                                                v8::Local<v8::Array> init, VMC_Handle result, VMConnection* owner,
                                                v8::Local<v8::Object> owner_object) {
  v8::Local<v8::Value> argv[] = {sql, init};
  pending_result = result;
  v8::MaybeLocal<v8::Object> made = constructor.Get(isolate)->NewInstance(isolate->GetCurrentContext(), 2, argv);
  pending_result = nullptr;
  v8::Local<v8::Object> instance;
  VMQuery* self = made.ToLocal(&instance) ? node::ObjectWrap::Unwrap<VMQuery>(instance) : nullptr;
  if (result && (!self || self->p_res != result)) {
    VMC_FreeResult(&result);
  } else if (result) {
    self->owner_ = owner;
    owner->adopt_reader(self);
    instance->SetInternalField(kOwnerField, owner_object);
  }
  return made;
}

VMQuery::~VMQuery() { Close(); }

void VMQuery::Close() {
  if (owner_) owner_->forget_reader(this);
  owner_ = nullptr;
  if (p_res) VMC_FreeResult(&p_res);
  p_res = nullptr;
}

void VMQuery::connection_closed() {
  owner_ = nullptr;
  lose_result();
}

void VMQuery::lose_result() {
  Close();
  field_num = 0;
  err_text = kLinkClosed;
}

v8::Local<v8::Value> VMQuery::error_value(v8::Isolate* isolate) const {
  if (!err_text) return v8::Null(isolate);
  return utf8_string(isolate, *err_text);
}

void VMQuery::on(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  VMQuery* self = holder_of<VMQuery>(args);
  if (!self) return;
  v8::Local<v8::Value> callback = args[1];
  if (is_event(isolate, args[0], "fields")) {
    if (callback->IsFunction()) self->fields(isolate, callback);
  } else if (is_event(isolate, args[0], "result")) {
    self->next_row(isolate, args.Holder(), callback, RowCaller::OnResult);
  } else if (is_event(isolate, args[0], "error")) {
    v8::Local<v8::Value> argv[] = {self->error_value(isolate)};
    if (callback->IsFunction()) call_back(isolate, callback, 1, argv);
  }
}

void VMQuery::nextRecord(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  VMQuery* self = holder_of<VMQuery>(args);
  if (!self) return;
  // "nextresult" does nothing: a query object reads one result set only.
  if (is_event(isolate, args[0], "nextrecord")) {
    self->next_row(isolate, args.Holder(), args[1], RowCaller::NextRecord);
  }
}

void VMQuery::fields(v8::Isolate* isolate, v8::Local<v8::Value> callback) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Array> list = v8::Array::New(isolate);
  const char* failure = nullptr;
  for (int col = 1; p_res && col <= field_num; ++col) {
    int rc = 0;
    v8::Local<v8::String> name = column_name(isolate, &p_res, col, &rc);
    if (rc < 0) failure = "column NUM overflow";
    int ctype = 0;
    VMC_GetColType(&p_res, col, &ctype);
    list->CreateDataProperty(context, static_cast<uint32_t>(col - 1), field_description(isolate, name, ctype))
        .Check();
  }
  v8::Local<v8::Value> argv[] = {list};
  if (!call_back(isolate, callback, 1, argv)) return;
  if (failure) throw_type_error(isolate, failure);
}

void VMQuery::next_row(v8::Isolate* isolate, v8::Local<v8::Object> holder, v8::Local<v8::Value> callback,
                       RowCaller caller) {
  const bool wants_row = callback->IsFunction();
  // Past the last row this still makes a row, of NULL readings; a link that
  // failed on the way to the next block ends the result as a closed
  // connection would.
  if (p_res && VMC_Fetch(&p_res) == RC_READ_FAILED) lose_result();
  if (!p_res) {
    v8::Local<v8::Value> argv[] = {error_value(isolate)};
    if (wants_row) call_back(isolate, callback, 1, argv);
    return;
  }

  // The row maker is made at the first row and kept on the script object.
  v8::Local<v8::Value> kept = holder->GetInternalField(kMakerField);
  v8::Local<v8::Function> maker;
  if (kept->IsFunction()) {
    maker = kept.As<v8::Function>();
  } else {
    RowShape shape(isolate);
    for (int col = 1; col <= field_num; ++col) {
      int rc = 0;
      shape.add_column(column_name(isolate, &p_res, col, &rc));
    }
    if (!shape.prepare()) return;
    maker = shape.maker();
    holder->SetInternalField(kMakerField, maker);
  }

  const char* failure = nullptr;
  std::vector<v8::Local<v8::Value>> values(static_cast<size_t>(field_num > 0 ? field_num : 0));
  for (int col = 1; col <= field_num; ++col) {
    int ctype = 0;
    if (VMC_GetColType(&p_res, col, &ctype) < 0) {
      failure = caller == RowCaller::OnResult ? "column NUM Type overflow" : "colulmn NUM overflow";
      ctype = 0;
    }
    values[static_cast<size_t>(col - 1)] = reader_.value(isolate, &p_res, col, ctype);
    if (reader_.error()) failure = reader_.error();
    reader_.clear_error();
  }
  v8::Local<v8::Value> row;
  if (!RowShape::make_row(isolate, maker, values).ToLocal(&row)) return;
  v8::Local<v8::Value> argv[] = {row};
  // A native method cannot call into script with an exception pending: the
  // row goes out first, the data error after it.
  if (wants_row && !call_back(isolate, callback, 1, argv)) return;
  if (failure) throw_type_error(isolate, failure);
}

}  // namespace zorezu
