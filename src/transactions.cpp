// Transactions: beginTransaction, commit and rollback. A transaction is
// bounded by the server's auto-commit mode: beginning one turns auto-commit
// off, or, when it is off already, commits what came before.
#include "src/script_util.h"
#include "src/value_answer.h"
#include "src/vm_connection.h"

namespace zorezu {

namespace {

constexpr char kTransactionFailed[] = "The vamo database conntion exception.";

// The connection object when it is open; else throws and gives null.
VMConnection* open_holder(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = holder_of<VMConnection>(args);
  if (self && !self->is_open()) {
    throw_type_error(args.GetIsolate(), "The Connection is Not Open!");
    return nullptr;
  }
  return self;
}

// Reports the outcome to a callback given first; without one nothing is said.
void report(const v8::FunctionCallbackInfo<v8::Value>& args, int code) {
  if (args[0]->IsFunction()) call_status_callback(code, args[0].As<v8::Function>(), args.GetIsolate(), kTransactionFailed);
}

void run_and_report(const v8::FunctionCallbackInfo<v8::Value>& args, const char* sql) {
  VMConnection* self = open_holder(args);
  if (!self) return;
  VMC_Handle conn = self->begin_call();
  report(args, VMC_ExecuteNoQuery(&conn, sql));
}

}  // namespace

void VMConnection::beginTransaction(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = open_holder(args);
  if (!self) return;
  VMC_Handle conn = self->begin_call();
  const ValueAnswer answer = execute_value(&conn, "SHOW AUTO_COMMIT;");
  int code = answer.code;
  if (code >= 0) {
    // Auto-commit is on exactly when the answer begins with 'T'.
    const bool on = !answer.text.empty() && answer.text[0] == 'T';
    code = VMC_ExecuteNoQuery(&conn, on ? "SET AUTO_COMMIT OFF;" : "COMMIT;");
  }
  report(args, code);
}

void VMConnection::commit(const v8::FunctionCallbackInfo<v8::Value>& args) { run_and_report(args, "COMMIT;"); }

void VMConnection::rollback(const v8::FunctionCallbackInfo<v8::Value>& args) { run_and_report(args, "ROLLBACK;"); }

}  // namespace zorezu
