// The query object: field descriptions and rows one at a time.
#include "src/vm_query.h"

#include "src/script_util.h"
#include "src/vm_connection.h"

namespace zorezu {

v8::Persistent<v8::Function> VMQuery::constructor;

namespace {

constexpr int kOwnerField = 1;  // the connection object, kept alive while the result is read
constexpr int kMakerField = 2;  // the maker of row objects, made at the first row

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
  // Only the error comes from the array here: a number never becomes a
  // result, which reaches the object natively (NewInstance).
  if (!args[1]->IsArray()) return;
  v8::Local<v8::Array> init = args[1].As<v8::Array>();
  v8::Local<v8::Value> error;
  if (init->Length() != 3 || !init->Get(context, 2).ToLocal(&error) || error->IsNull()) return;
  v8::Local<v8::Object> object;
  v8::Local<v8::Value> text;
  if (!error->ToObject(context).ToLocal(&object) ||
      !object->Get(context, key_string(isolate, "Error")).ToLocal(&text)) {
    return;
  }
  self->err_text = utf8_text(isolate, text);
}

v8::MaybeLocal<v8::Object> VMQuery::NewInstance(v8::Isolate* isolate, v8::Local<v8::String> sql,
                                                v8::Local<v8::Array> init, VMC_Handle result, VMConnection* owner,
                                                v8::Local<v8::Object> owner_object) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Value> argv[] = {sql, init};
  v8::MaybeLocal<v8::Object> made = constructor.Get(isolate)->NewInstance(context, 2, argv);
  if (!result) return made;
  v8::Local<v8::Object> instance;
  if (!made.ToLocal(&instance)) {
    release_result(&result, true);
    return made;
  }
  VMQuery* self = node::ObjectWrap::Unwrap<VMQuery>(instance);
  self->p_res = result;
  self->field_num = init->Get(context, 0).ToLocalChecked()->Int32Value(context).FromMaybe(0);
  self->owner_ = owner;
  owner->adopt_reader(self);
  instance->SetInternalField(kOwnerField, owner_object);
  return made;
}

VMQuery::~VMQuery() {
  // The garbage collector runs this, and must not wait on the server: a
  // cursor still open is left to the connection to close at its next call.
  if (p_res && owner_ && vmc_result_holds_cursor(&p_res)) {
    owner_->close_later(p_res);
    p_res = nullptr;
  }
  Close(false);
}

void VMQuery::Close(bool talk) {
  if (owner_) owner_->forget_reader(this);
  owner_ = nullptr;
  release_result(&p_res, talk);
}

void VMQuery::connection_closed(bool talk) {
  owner_ = nullptr;
  lose_result(talk);
}

void VMQuery::lose_result(bool talk) {
  Close(talk);
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
  // connection would. A block the server refused ends the rows as their end
  // would, and its reason becomes the query's error.
  const int fetched = p_res ? VMC_Fetch(&p_res) : RC_SUCCESS;
  if (fetched == RC_READ_FAILED) {
    lose_result();
  } else if (fetched == RC_ERROR && !err_text && owner_) {
    const std::string reason = last_error_text(owner_->client());
    err_text = reason.empty() ? "READ RECORD ERROR" : reason;
  }
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

  // A copy: the callback may read further rows through this object, whose
  // reader then holds texts of its own.
  std::string failure;
  const size_t columns = static_cast<size_t>(field_num > 0 ? field_num : 0);
  values_.resize(columns);
  cells_.resize(columns);
  vmc_row_cells(&p_res, cells_.data(), static_cast<int>(columns));
  for (int col = 1; col <= field_num; ++col) {
    int ctype = 0;
    if (VMC_GetColType(&p_res, col, &ctype) < 0) {
      failure = caller == RowCaller::OnResult ? "column NUM Type overflow" : "colulmn NUM overflow";
      ctype = 0;
    }
    const auto k = static_cast<size_t>(col - 1);
    values_[k] = reader_.value(isolate, &p_res, col, ctype, cells_[k]);
    if (reader_.error()) failure = reader_.error();
    reader_.clear_error();
  }
  v8::Local<v8::Value> row;
  if (!RowShape::make_row(isolate, maker, values_).ToLocal(&row)) return;
  // A long text grew the reader's buffer; the object keeps none between rows.
  reader_.release();
  v8::Local<v8::Value> argv[] = {row};
  // A native method cannot call into script with an exception pending: the
  // row goes out first, the data error after it.
  if (wants_row && !call_back(isolate, callback, 1, argv)) return;
  if (!failure.empty()) throw_type_error(isolate, failure.c_str());
}

}  // namespace zorezu
