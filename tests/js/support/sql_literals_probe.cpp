// A test-only module that lays the literal substitution functions open to
// scripts; the driver's own module never exports them.
#include <node.h>

#include <algorithm>
#include <cstdlib>

#include "src/script_util.h"
#include "src/sql_literals.h"

namespace {

using zorezu::utf8_string;
using zorezu::utf8_text;

// substitute(form, text, value): form is "quoted", "bare" or "single".
void substitute(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  const std::string form = utf8_text(isolate, args[0]);
  const std::string text = utf8_text(isolate, args[1]);
  const std::string value = utf8_text(isolate, args[2]);
  std::string out;
  if (form == "quoted") out = zorezu::substitute_quoted(text, value);
  if (form == "bare") out = zorezu::substitute_bare(text, value);
  if (form == "single") out = zorezu::substitute_single(text, value);
  args.GetReturnValue().Set(utf8_string(isolate, out));
}

// leftRight(text, n): [sql_left, sql_right].
void leftRight(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  const std::string text = utf8_text(isolate, args[0]);
  const auto n = static_cast<size_t>(args[1].As<v8::Number>()->Value());
  v8::Local<v8::Value> parts[] = {utf8_string(isolate, zorezu::sql_left(text, std::min(n, text.size()))),
                                  utf8_string(isolate, zorezu::sql_right(text, n))};
  args.GetReturnValue().Set(v8::Array::New(isolate, parts, 2));
}

void arrayList(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  std::string out = zorezu::array_to_sql_list(isolate, args[0].As<v8::Array>());
  args.GetReturnValue().Set(utf8_string(isolate, out));
}

void nestedList(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  std::string out = zorezu::nested_array_to_sql(isolate, args[0].As<v8::Array>());
  args.GetReturnValue().Set(utf8_string(isolate, out));
}

// sqlText(sql, params?): {sql, lobCount, lobIndex, lobPosition}; no params
// stands for an empty handle.
void sqlText(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Array> params;
  if (args[1]->IsArray()) params = args[1].As<v8::Array>();
  const zorezu::SQLInfo info = zorezu::params_to_sql_text(isolate, utf8_text(isolate, args[0]), params);
  v8::Local<v8::Array> index = v8::Array::New(isolate);
  v8::Local<v8::Array> position = v8::Array::New(isolate);
  for (uint32_t k = 0; k < zorezu::kMaxLobParams; ++k) {
    index->Set(context, k, v8::Integer::New(isolate, info.lob_index[k])).Check();
    position->Set(context, k, v8::Integer::New(isolate, info.lob_position[k])).Check();
  }
  v8::Local<v8::Object> out = v8::Object::New(isolate);
  out->Set(context, utf8_string(isolate, "sql"), utf8_string(isolate, info.result_sql)).Check();
  out->Set(context, utf8_string(isolate, "lobCount"), v8::Integer::New(isolate, info.lob_count)).Check();
  out->Set(context, utf8_string(isolate, "lobIndex"), index).Check();
  out->Set(context, utf8_string(isolate, "lobPosition"), position).Check();
  args.GetReturnValue().Set(out);
}

void formatDatetime(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  char* text = zorezu::format_datetime_alloc(static_cast<int64_t>(args[0].As<v8::Number>()->Value()));
  args.GetReturnValue().Set(utf8_string(isolate, text ? text : ""));
  std::free(text);
}

void Init(v8::Local<v8::Object> exports) {
  NODE_SET_METHOD(exports, "substitute", substitute);
  NODE_SET_METHOD(exports, "leftRight", leftRight);
  NODE_SET_METHOD(exports, "arrayList", arrayList);
  NODE_SET_METHOD(exports, "nestedList", nestedList);
  NODE_SET_METHOD(exports, "sqlText", sqlText);
  NODE_SET_METHOD(exports, "formatDatetime", formatDatetime);
}

}  // namespace

NODE_MODULE(NODE_GYP_MODULE_NAME, Init)
