// Module registration and the module's one export, createConnection.
#include <node.h>

#include "src/script_util.h"
#include "src/vm_connection.h"
#include "src/vm_query.h"

namespace zorezu {

namespace {

void createConnection(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Value> options = args[0];
  if (options->IsUndefined()) return throw_type_error(isolate, "The first argument undefined.");
  if (!options->IsString()) {
    if (!options->IsObject()) return throw_type_error(isolate, "The args Error ");
    v8::Local<v8::Value> host;
    if (!options.As<v8::Object>()->Get(isolate->GetCurrentContext(), key_string(isolate, "host")).ToLocal(&host)) {
      return;
    }
    if (host->IsUndefined()) return throw_type_error(isolate, "The args Error:no Host ");
  }
  VMConnection::NewInstance(args);
}

void InitModule(v8::Local<v8::Object> exports, v8::Local<v8::Value> module) {
  (void)module;
  v8::Isolate* isolate = exports->GetIsolate();
  VMConnection::Init(isolate);
  VMQuery::Init(isolate);
  NODE_SET_METHOD(exports, "createConnection", createConnection);
}

}  // namespace

}  // namespace zorezu

// The name stays the literal the build tools would have replaced.
NODE_MODULE(NODE_GYP_MODULE_NAME, zorezu::InitModule)
