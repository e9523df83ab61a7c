// Taking apart the arguments of query and querymany.
#include "src/statement_call.h"

#include "src/script_util.h"

namespace zorezu {

namespace {

constexpr char kMismatch[] = "executemany Parameter mismatch";

// The string form of the object's "sql", and its "values".
bool statement_object(v8::Isolate* isolate, v8::Local<v8::Value> statement, std::string* sql,
                      v8::Local<v8::Value>* values) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Object> object = statement.As<v8::Object>();
  v8::Local<v8::Value> text;
  v8::Local<v8::String> string;
  if (!object->Get(context, key_string(isolate, "sql")).ToLocal(&text) ||
      !object->Get(context, key_string(isolate, "values")).ToLocal(values) ||
      !text->ToString(context).ToLocal(&string)) {
    return false;
  }
  *sql = utf8_text(isolate, string);
  return true;
}

// Throws a TypeError; the call ends.
bool refuse(v8::Isolate* isolate, const char* message) {
  throw_type_error(isolate, message);
  return false;
}

v8::Local<v8::Function> function_or_none(v8::Local<v8::Value> value) {
  return value->IsFunction() ? value.As<v8::Function>() : v8::Local<v8::Function>();
}

}  // namespace

bool StatementCall::parse(const v8::FunctionCallbackInfo<v8::Value>& args, StatementMethod method,
                          const std::function<bool()>& open) {
  v8::Isolate* isolate = args.GetIsolate();
  const bool many = method == StatementMethod::QueryMany;
  const int argc = args.Length();
  v8::Local<v8::Value> first = args[0];
  if (argc > 3) return refuse(isolate, "Wrong arguments number");
  if (many && !first->IsObject() && argc < 2) return refuse(isolate, kMismatch);
  if (first->IsUndefined()) return refuse(isolate, "The first argument undefined.");
  if (!open()) return false;

  if (first->IsFunction()) {
    v8::Local<v8::Value> argv[] = {v8::Null(isolate)};
    call_back(isolate, first, 1, argv);
    return false;
  }
  v8::Local<v8::Value> from_object;
  if (first->IsString()) {
    if (!many && argc == 3 && !args[2]->IsFunction()) {
      return refuse(isolate, "The third argument is not callback function");
    }
    sql = utf8_text(isolate, first);
  } else if (first->IsObject()) {
    if (!statement_object(isolate, first, &sql, &from_object)) return false;
  } else {
    return refuse(isolate, "Error: The args Query sql is needed ");
  }
  // The library and the server read the text up to its first zero byte:
  // what follows would be dropped without a word.
  if (sql.find('\0') != std::string::npos) {
    return refuse(isolate, "The sql text contains a NUL character.");
  }

  if (many) {
    // The object form carries its rows; its callback comes second.
    const bool object_form = !first->IsString();
    values = object_form ? from_object : args[1];
    callback = function_or_none(object_form ? args[1] : args[2]);
    if (!values->IsArray()) return refuse(isolate, kMismatch);
    return true;
  }
  // The object form's "values" is read and not used.
  values = argc > 1 ? args[1] : v8::Undefined(isolate).As<v8::Value>();
  if (argc == 3 && args[2]->IsFunction()) {
    callback = args[2].As<v8::Function>();
  } else if (argc >= 2) {
    callback = function_or_none(args[1]);
  }
  reads_rows = !(argc == 1 || (argc == 2 && !args[1]->IsFunction()));
  return true;
}

}  // namespace zorezu
