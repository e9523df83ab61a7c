// Script values to bound parameters.
#include "src/param_binding.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "src/script_util.h"

namespace zorezu {

namespace {

// The UTF-8 text of a value's string conversion; false when it threw.
bool value_text(v8::Isolate* isolate, v8::Local<v8::Value> value, std::string* text) {
  v8::Local<v8::String> string;
  if (!value->ToString(isolate->GetCurrentContext()).ToLocal(&string)) return false;
  *text = utf8_text(isolate, string);
  return true;
}

template <typename T>
std::string raw_bytes(T value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// How a refusal names a parameter: by its name, else by its position.
std::string parameter_label(const Placeholders& marks, int i) {
  const std::string& name = marks.name(i);
  return name.empty() ? std::to_string(i + 1) : ":" + name;
}

}  // namespace

bool ParamValues::convert(v8::Isolate* isolate, v8::Local<v8::Value> value, Value* out, std::string* refusal) {
  out->present = true;
  if (value->IsInt32()) {
    out->ctype = CT_INT32;
    out->bytes = raw_bytes(value.As<v8::Int32>()->Value());
  } else if (value->IsNumber()) {
    // Unsigned 32-bit numbers above the signed range travel as doubles too.
    out->ctype = CT_DOUBLE;
    out->bytes = raw_bytes(value.As<v8::Number>()->Value());
  } else if (value->IsBigInt()) {
    bool lossless = false;
    const int64_t whole = value.As<v8::BigInt>()->Int64Value(&lossless);
    if (!lossless) *refusal = "is a BigInt out of the signed 64-bit range";
    out->ctype = CT_INT64;
    out->bytes = raw_bytes(whole);
  } else if (value->IsString()) {
    out->ctype = CT_TEXT;
    out->bytes = utf8_text(isolate, value);
  } else if (value->IsBoolean()) {
    out->ctype = CT_INT;  // one byte when bound
    out->bytes = raw_bytes<uint8_t>(value->IsTrue() ? 1 : 0);
  } else if (value->IsDate()) {
    std::string text;
    if (!value_text(isolate, value, &text)) return false;
    out->ctype = CT_TEXT;
    out->bytes = date_text_to_sql(text);
    // An invalid Date binds the empty text; a valid one that has no SQL
    // datetime text is refused rather than stored as a NULL.
    if (out->bytes.empty() && !std::isnan(value.As<v8::Date>()->ValueOf())) {
      *refusal = "is a Date outside the years 1 to 9999";
    }
  } else if (value->IsNull() || value->IsUndefined()) {
    out->ctype = 0;
  } else if (value->IsArrayBufferView()) {
    // The bytes themselves, zero bytes and all.
    v8::Local<v8::ArrayBufferView> view = value.As<v8::ArrayBufferView>();
    const size_t length = view->ByteLength();
    if (length > static_cast<size_t>(INT_MAX)) {
      *refusal = "holds more bytes than one value can carry";
      return true;
    }
    out->ctype = CT_BINARY;
    out->bytes.resize(length);
    view->CopyContents(out->bytes.data(), length);
  } else {
    out->present = false;
  }
  return true;
}

bool ParamValues::collect(v8::Isolate* isolate, const Placeholders& marks, v8::Local<v8::Value> container) {
  values_.clear();
  refusal_.clear();
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
    std::string refusal;
    if (!convert(isolate, value, &values_[static_cast<size_t>(i)], &refusal)) return false;
    if (!refusal.empty()) {
      refusal_ = "The value of parameter " + parameter_label(marks, i) + " " + refusal;
      return true;
    }
  }
  return true;
}

void ParamValues::bind(const Placeholders& marks, VMC_Handle* conn) {
  for (size_t i = 0; i < values_.size(); ++i) {
    Value& v = values_[i];
    if (!v.present) continue;
    void* data = v.ctype == 0 ? nullptr : v.bytes.data();
    int length = static_cast<int>(v.bytes.size());
    // The library copies each value at once; its answer is not looked at:
    // the server's reply shows what did not bind.
    if (marks.by_position) {
      VMC_BindParam(conn, static_cast<int>(i) + 1, PARAM_IN, v.ctype, data, length, &length);
    } else {
      int reserved = 0;
      VMC_BindParamByName(conn, marks.name(static_cast<int>(i)).c_str(), PARAM_IN, v.ctype, data, length,
                          &reserved, &length);
    }
  }
  values_.clear();
}

}  // namespace zorezu
