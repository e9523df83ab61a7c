// Transactions: beginTransaction, commit and rollback. A transaction is
// bounded by the server's auto-commit mode: beginning one turns auto-commit
// off, or, when it is off already, commits what came before.
#include <cstdlib>
#include <cstring>

#include "src/script_util.h"
#include "src/vm_connection.h"

namespace zorezu {

namespace {

constexpr char kTransactionFailed[] = "The vamo database conntion exception.";
constexpr size_t kAnswerSize = 64;
constexpr int kHeapAnswer = 100;

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
  VMC_Handle conn = self->client();
  report(args, VMC_ExecuteNoQuery(&conn, sql));
}

// True when the answer's text begins with 'T'. A long answer comes as a heap
// copy, which is read and freed.
bool answer_is_on(char* answer, int ctype) {
  if (ctype < kHeapAnswer) return answer[0] == 'T';
  char* copy = nullptr;
  std::memcpy(&copy, answer + sizeof(uint32_t), sizeof copy);
  const bool on = copy && copy[0] == 'T';
  VMC_FreeBuffer(reinterpret_cast<void**>(&copy));
  return on;
}

}  // namespace

void VMConnection::beginTransaction(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = open_holder(args);
  if (!self) return;
  VMC_Handle conn = self->client();
  char* answer = static_cast<char*>(std::calloc(1, kAnswerSize));
  if (!answer) return report(args, RC_NO_MEMORY);
  int ctype = 0;
  int code = VMC_ExecuteValue(&conn, "SHOW AUTO_COMMIT;", answer, &ctype);
  if (code >= 0) {
    code = VMC_ExecuteNoQuery(&conn, answer_is_on(answer, ctype) ? "SET AUTO_COMMIT OFF;" : "COMMIT;");
  }
  std::free(answer);
  report(args, code);
}

void VMConnection::commit(const v8::FunctionCallbackInfo<v8::Value>& args) { run_and_report(args, "COMMIT;"); }

void VMConnection::rollback(const v8::FunctionCallbackInfo<v8::Value>& args) { run_and_report(args, "ROLLBACK;"); }

}  // namespace zorezu
