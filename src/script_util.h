// Small pieces every script method uses: thrown TypeErrors, UTF-8 texts,
// callbacks called with a null receiver, and finding the native object.
#ifndef RIZEZOVA_SRC_SCRIPT_UTIL_H
#define RIZEZOVA_SRC_SCRIPT_UTIL_H

#include <node.h>
#include <node_object_wrap.h>

#include <cstring>
#include <string>

namespace zorezu {

inline v8::Local<v8::String> utf8_string(v8::Isolate* isolate, const char* text, size_t length) {
  return v8::String::NewFromUtf8(isolate, text, v8::NewStringType::kNormal, static_cast<int>(length))
      .ToLocalChecked();
}

inline v8::Local<v8::String> utf8_string(v8::Isolate* isolate, const std::string& text) {
  return utf8_string(isolate, text.data(), text.size());
}

inline v8::Local<v8::String> key_string(v8::Isolate* isolate, const char* text) {
  return v8::String::NewFromUtf8(isolate, text, v8::NewStringType::kInternalized).ToLocalChecked();
}

// Script methods report argument and state errors this way and return
// without a value.
inline void throw_type_error(v8::Isolate* isolate, const char* message) {
  isolate->ThrowException(v8::Exception::TypeError(utf8_string(isolate, message, std::strlen(message))));
}

// The UTF-8 text of a string value.
inline std::string utf8_text(v8::Isolate* isolate, v8::Local<v8::Value> value) {
  v8::String::Utf8Value text(isolate, value);
  return *text ? std::string(*text, static_cast<size_t>(text.length())) : std::string();
}

// True when value is a string equal to name (a short lower-case ASCII word)
// in any ASCII letter case.
inline bool is_event(v8::Isolate* isolate, v8::Local<v8::Value> value, const char* name) {
  if (!value->IsString()) return false;
  v8::Local<v8::String> text = value.As<v8::String>();
  const size_t n = std::strlen(name);
  uint16_t units[16];
  if (n > sizeof units / sizeof units[0] || static_cast<size_t>(text->Length()) != n) return false;
  text->Write(isolate, units, 0, static_cast<int>(n), v8::String::NO_NULL_TERMINATION);
  for (size_t i = 0; i < n; ++i) {
    const uint16_t u = units[i] >= 'A' && units[i] <= 'Z' ? units[i] + ('a' - 'A') : units[i];
    if (u != static_cast<unsigned char>(name[i])) return false;
  }
  return true;
}

// Calls a script callback with a null receiver; false when it threw (the
// exception stays pending for the caller's caller).
inline bool call_back(v8::Isolate* isolate, v8::Local<v8::Value> callback, int argc, v8::Local<v8::Value>* argv) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  return !callback.As<v8::Function>()->Call(context, v8::Null(isolate), argc, argv).IsEmpty();
}

// The native object behind a method's holder; null only for an object whose
// construction never finished.
template <class T>
T* holder_of(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Local<v8::Object> holder = args.Holder();
  if (holder->InternalFieldCount() < 1) return nullptr;
  return node::ObjectWrap::Unwrap<T>(holder);
}

}  // namespace zorezu

#endif
