// Script values to bound parameters.
#include "src/param_binding.h"

#include <cstring>

#include "src/script_util.h"

namespace zorezu {

namespace {

enum BindType { kNull = 0, kBoolean = 1, kText = 2, kInt32 = 5, kDouble = 8, kBinary = 15 };
constexpr int kDirectionIn = 1;

// The UTF-8 text of a value's string conversion; false when it threw.
bool value_text(v8::Isolate* isolate, v8::Local<v8::Value> value, std::string* text) {
  v8::Local<v8::String> string;
  if (!value->ToString(isolate->GetCurrentContext()).ToLocal(&string)) return false;
  *text = utf8_text(isolate, string);
  return true;
}

}  // namespace

bool ParamValues::convert(v8::Isolate* isolate, v8::Local<v8::Value> value, Value* out) {
  out->present = true;
  if (value->IsInt32()) {
    out->ctype = kInt32;
    out->i32 = value.As<v8::Int32>()->Value();
  } else if (value->IsNumber()) {
    // Unsigned 32-bit numbers above the signed range travel as doubles too.
    out->ctype = kDouble;
    out->f64 = value.As<v8::Number>()->Value();
  } else if (value->IsString()) {
    out->ctype = kText;
    out->bytes = utf8_text(isolate, value);
  } else if (value->IsBoolean()) {
    out->ctype = kBoolean;
    out->flag = value->IsTrue() ? 1 : 0;
  } else if (value->IsDate()) {
    std::string text;
    if (!value_text(isolate, value, &text)) return false;
    out->ctype = kText;
    out->bytes = date_text_to_sql(text);
  } else if (value->IsNull() || value->IsUndefined()) {
    out->ctype = kNull;
  } else if (value->IsArrayBufferView()) {
    std::string text;
    if (!value_text(isolate, value, &text)) return false;
    out->ctype = kBinary;
    out->bytes.assign(text.c_str(), std::strlen(text.c_str()));
  } else {
    out->present = false;
  }
  return true;
}

bool ParamValues::collect(v8::Isolate* isolate, const Placeholders& marks, v8::Local<v8::Value> container) {
  values_.clear();
  if (marks.count <= 0) return true;
  values_.resize(static_cast<size_t>(marks.count));
  if (!container->IsObject()) {
    // Nothing to look in: every placeholder is bound as null.
    for (Value& v : values_) v.present = true;
    return true;
  }
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Object> object = container.As<v8::Object>();
  for (int i = 0; i < marks.count; ++i) {
    v8::Local<v8::Value> value;
    if (!object->Get(context, utf8_string(isolate, marks.name(i))).ToLocal(&value)) return false;
    if (value->IsUndefined() && !object->Get(context, static_cast<uint32_t>(i)).ToLocal(&value)) return false;
    if (!convert(isolate, value, &values_[static_cast<size_t>(i)])) return false;
  }
  return true;
}

void ParamValues::bind(const Placeholders& marks, VMC_Handle* conn) {
  for (size_t i = 0; i < values_.size(); ++i) {
    Value& v = values_[i];
    if (!v.present) continue;
    void* data = nullptr;
    int length = 0;
    switch (v.ctype) {
      case kInt32: data = &v.i32; length = sizeof v.i32; break;
      case kDouble: data = &v.f64; length = sizeof v.f64; break;
      case kBoolean: data = &v.flag; length = sizeof v.flag; break;
      case kText:
      case kBinary: data = v.bytes.data(); length = static_cast<int>(v.bytes.size()); break;
      default: break;
    }
    // The library copies each value at once; its answer is not looked at:
    // the server's reply shows what did not bind.
    if (marks.by_position) {
      VMC_BindParam(conn, static_cast<int>(i) + 1, kDirectionIn, v.ctype, data, length, &length);
    } else {
      int reserved = 0;
      VMC_BindParamByName(conn, marks.name(static_cast<int>(i)).c_str(), kDirectionIn, v.ctype, data, length,
                          &reserved, &length);
    }
  }
  values_.clear();
}

}  // namespace zorezu
