// querymany: one statement prepared once and executed for every row of
// values, then released. A callback given last hears the outcome once:
// (error, one status object per executed row).
#include "src/param_binding.h"
#include "src/script_util.h"
#include "src/statement_call.h"
#include "src/vm_connection.h"

namespace zorezu {

namespace {

constexpr char kNoSelect[] = "[EC026]Error querymany can't surpport a select_sql  \n";
constexpr char kNotRun[] =
    "querymany runs INSERT, UPDATE, DELETE and other statements, but not SELECT, CREATE, ALTER or EXEC; "
    "run those with query";

// The kinds of statement run once per row; a SELECT is refused at its first
// row, every other kind before anything is sent.
bool runs_per_row(int kind) {
  return kind == SQL_KIND_INSERT || kind == SQL_KIND_UPDATE || kind == SQL_KIND_DELETE || kind == SQL_KIND_OTHER;
}

// The statuses of the executed rows and the last failure. Each status is
// the statement kind's key with an empty row id or a zero count.
class Report {
 public:
  Report(v8::Isolate* isolate, int kind)
      : isolate_(isolate), context_(isolate->GetCurrentContext()), statuses_(v8::Array::New(isolate)) {
    const bool counted = kind == SQL_KIND_UPDATE || kind == SQL_KIND_DELETE;
    key_ = key_string(isolate, kind == SQL_KIND_UPDATE   ? "UPDATE EFFECTNUM"
                               : kind == SQL_KIND_DELETE ? "DELETE EFFECTNUM"
                                                         : "new RowId");
    value_ = counted ? v8::Integer::New(isolate, 0).As<v8::Value>() : v8::String::Empty(isolate).As<v8::Value>();
  }

  void fail(const std::string& text) {
    error_ = text;
    failed_ = true;
  }

  void executed() {
    v8::Local<v8::Object> status = v8::Object::New(isolate_);
    status->CreateDataProperty(context_, key_, value_).Check();
    statuses_->CreateDataProperty(context_, count_++, status).Check();
  }

  void deliver(v8::Local<v8::Function> callback) {
    if (callback.IsEmpty()) return;
    v8::Local<v8::Value> error = v8::Null(isolate_);
    if (failed_) {
      v8::Local<v8::Object> object = v8::Object::New(isolate_);
      object->CreateDataProperty(context_, key_string(isolate_, "Error"), utf8_string(isolate_, error_)).Check();
      error = object;
    }
    v8::Local<v8::Value> argv[] = {error, statuses_};
    call_back(isolate_, callback, 2, argv);
  }

 private:
  v8::Isolate* isolate_;
  v8::Local<v8::Context> context_;
  v8::Local<v8::Array> statuses_;
  v8::Local<v8::Name> key_;
  v8::Local<v8::Value> value_;
  uint32_t count_ = 0;
  std::string error_;
  bool failed_ = false;
};

}  // namespace

void VMConnection::querymany(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  StatementCall call;
  auto open = [self, isolate] { return self->open_implicitly(isolate); };
  if (!call.parse(args, StatementMethod::QueryMany, open)) return;
  const std::string& sql = call.sql;
  v8::Local<v8::Array> list = call.values.As<v8::Array>();
  // Getters and string conversions may have closed the connection.
  if (self->state != kOpen || !self->p_conn) return throw_type_error(isolate, "The Connection is Not Open!");

  const int kind = VMC_GetSqlKind(sql.c_str());
  Report report(isolate, kind);
  VMC_Handle conn = self->p_conn;
  // Values bound for a row that did not run, or the set that PREPARE
  // described, would go out with the next statement of the connection: none
  // is left behind, whatever the outcome, before anyone hears of it.
  auto drop_params = [self, &conn] {
    if (self->p_conn == conn) VMC_ClearParams(&conn);
  };
  auto finish = [&] {
    drop_params();
    report.deliver(call.callback);
  };
  // Refused whatever the rows, so that a statement that would run for no row
  // is never taken for one that ran.
  if (kind != SQL_KIND_SELECT && !runs_per_row(kind)) {
    report.fail(kNotRun);
    return finish();
  }
  const int prepared = VMC_Prepare2(&conn, sql.c_str(), nullptr);
  if (prepared == RC_READ_FAILED) {
    report.fail(kLinkClosed);
    return finish();
  }
  // The rows still run, and fail for want of the statement: a statement the
  // server refused has each row report the server's reason, not that want.
  const std::string not_prepared = prepared == RC_ERROR ? last_error_text(conn) : std::string();
  const Placeholders marks(sql);
  ParamValues params;
  // The length is read at every step: a getter may change it.
  for (uint32_t i = 0; i < list->Length(); ++i) {
    v8::HandleScope scope(isolate);
    v8::Local<v8::Value> row;
    const bool threw = !list->Get(context, i).ToLocal(&row) || !params.collect(isolate, marks, row);
    if (self->p_conn != conn) {
      // The row's getters closed the connection, and the statement with it.
      if (threw) return;
      report.fail(kLinkClosed);
      return finish();
    }
    if (threw) {
      // The exception goes on to the script; the statement is released.
      VMC_UnPrepare(&conn, nullptr);
      return drop_params();
    }
    if (!params.refusal().empty()) {
      // A row that cannot be sent is not run, like a row that failed.
      report.fail(params.refusal());
      continue;
    }
    params.bind(marks, &conn);
    if (kind == SQL_KIND_SELECT) {
      report.fail(kNoSelect);
      return finish();
    }
    const int code = VMC_Execute2(&conn, nullptr, nullptr, nullptr);
    if (code < 0) {
      report.fail(not_prepared.empty() || code == RC_READ_FAILED ? execution_error_text(code, conn) : not_prepared);
    }
    report.executed();
  }
  VMC_UnPrepare(&conn, nullptr);
  finish();
}

}  // namespace zorezu
