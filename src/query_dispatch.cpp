// query: argument checks, the implicit connect, binding, the library call
// chosen by the statement's kind, and handing the outcome to the script.

#include "src/column_values.h"
#include "src/param_binding.h"
#include "src/script_util.h"
#include "src/statement_call.h"
#include "src/value_answer.h"
#include "src/vm_connection.h"
#include "src/vm_query.h"

namespace zorezu {

namespace {

// What a query object's init array carries when no result set was opened.
constexpr int kNoResultColumns = 123;
constexpr double kNoResultHandle = 1234567891012;
// In place of a statement kind: the statement is not run at all.
constexpr int kNothingSent = 0;

// Everything one call of query hands to the script.
class Outcome {
 public:
  explicit Outcome(v8::Isolate* isolate)
      : isolate_(isolate),
        context_(isolate->GetCurrentContext()),
        rows(v8::Array::New(isolate)),
        fields(v8::Array::New(isolate)),
        error_(v8::Object::New(isolate)) {}

  // A later failure's text replaces an earlier one.
  void fail(const std::string& text) {
    error_->CreateDataProperty(context_, key_string(isolate_, "Error"), utf8_string(isolate_, text)).Check();
    failed_ = true;
  }
  void fail_execution(int code, VMC_Handle conn) { fail(execution_error_text(code, conn)); }

  void set_row(uint32_t index, v8::Local<v8::Value> row) { rows->CreateDataProperty(context_, index, row).Check(); }
  void set_field(uint32_t index, v8::Local<v8::Value> field) {
    fields->CreateDataProperty(context_, index, field).Check();
  }
  void status(const char* key, v8::Local<v8::Value> value) {
    v8::Local<v8::Object> row = v8::Object::New(isolate_);
    row->CreateDataProperty(context_, key_string(isolate_, key), value).Check();
    set_row(0, row);
  }

  // The current result set is complete: keep it aside and begin the next.
  void next_result_set() {
    if (multi_rows_.IsEmpty()) {
      multi_rows_ = v8::Array::New(isolate_);
      multi_fields_ = v8::Array::New(isolate_);
    }
    multi_rows_->CreateDataProperty(context_, multi_count_, rows).Check();
    multi_fields_->CreateDataProperty(context_, multi_count_, fields).Check();
    ++multi_count_;
    rows = v8::Array::New(isolate_);
    fields = v8::Array::New(isolate_);
  }
  // The last result set of a multi-result reply joins the others.
  void last_result_set() {
    if (!multi_rows_.IsEmpty()) next_result_set();
  }

  v8::Local<v8::Value> error() const {
    if (failed_) return error_;
    return v8::Null(isolate_);
  }
  v8::Local<v8::Value> delivered_rows() const { return multi_rows_.IsEmpty() ? rows : multi_rows_; }
  v8::Local<v8::Value> delivered_fields() const { return multi_rows_.IsEmpty() ? fields : multi_fields_; }

 private:
  v8::Isolate* isolate_;
  v8::Local<v8::Context> context_;

 public:
  v8::Local<v8::Array> rows;
  v8::Local<v8::Array> fields;

 private:
  v8::Local<v8::Object> error_;
  bool failed_ = false;
  v8::Local<v8::Array> multi_rows_;
  v8::Local<v8::Array> multi_fields_;
  uint32_t multi_count_ = 0;
};

// Rows whose handles are held at once: each such block of rows goes to
// script in one call, and its handles go with it.
constexpr uint32_t kRowsPerScope = 4096;

// Whether the handle names a result set of rows, not a count or a row id
// that the same reply carried.
bool holds_rows(VMC_Handle* result) {
  int kind = 0;
  return *result && VMC_GetExecInfo(result, &kind, nullptr, nullptr, nullptr, nullptr) == RC_SUCCESS &&
         kind == SQL_KIND_SELECT;
}

// While rows are read here, each block of them is converted whole before
// the next one is asked for: the server is asked for the next block as soon
// as one has arrived. Whatever ends the reading, nothing of the result is
// left on the link when it does.
class ReadAhead {
 public:
  explicit ReadAhead(VMC_Handle* result) : result_(result) { vmc_read_ahead(result_, 1); }
  ~ReadAhead() { vmc_read_ahead(result_, 0); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

 private:
  VMC_Handle* result_;
};

// A block of rows that could not be had, with the server's reason behind
// it when the server refused the block.
std::string read_record_error(int code, VMC_Handle conn) {
  if (code == RC_READ_FAILED) return kLinkClosed;
  const std::string reason = code == RC_ERROR ? last_error_text(conn) : std::string();
  return reason.empty() ? "READ RECORD ERROR" : "READ RECORD ERROR: " + reason;
}

// Reads every row of every result set that *result leads to, passing over
// the counts between them. The handle is the connection's current result and
// follows it from set to set. False when script threw.
bool read_result_sets(v8::Isolate* isolate, VMC_Handle* result, VMC_Handle conn, Outcome* out) {
  ColumnReader reader(RowCaller::Query);
  RowShape shape(isolate);
  std::vector<int> types;
  std::vector<vmc_cell> cells;
  std::vector<v8::Local<v8::Value>> values;
  ReadAhead ahead(result);
  for (bool first = true;; first = false) {
    while (!holds_rows(result)) {
      if (!*result || VMC_NextResult(result) != RC_SUCCESS) {
        out->last_result_set();
        return true;
      }
    }
    if (!first) out->next_result_set();
    uint32_t columns = 0;
    VMC_GetFieldCount(result, &columns);
    int r = VMC_Fetch(result);
    if (r < 0) {
      out->fail("READ RECORD ERROR");
      return true;
    }

    shape.clear();
    reader.reset();
    types.assign(columns, 0);
    cells.resize(columns);
    for (uint32_t c = 0; c < columns; ++c) {
      const int col = static_cast<int>(c) + 1;
      int rc = 0;
      v8::Local<v8::String> name = column_name(isolate, result, col, &rc);
      if (rc < 0) {
        out->fail("colulmn NUM overflow");
        return true;
      }
      VMC_GetColType(result, col, &types[c]);
      out->set_field(c, field_description(isolate, name, types[c]));
      shape.add_column(name);
    }

    if (!shape.prepare()) return false;

    for (uint32_t row = 0; r == 0;) {
      v8::HandleScope scope(isolate);
      values.clear();
      uint32_t count = 0;
      for (; r == 0 && count < kRowsPerScope; ++count) {
        vmc_row_cells(result, cells.data(), static_cast<int>(columns));
        for (uint32_t c = 0; c < columns; ++c) {
          values.push_back(reader.value(isolate, result, static_cast<int>(c) + 1, types[c], cells[c]));
          if (reader.error()) out->fail(reader.error());
          reader.clear_error();
        }
        r = VMC_Fetch(result);
      }
      if (!shape.make_rows(out->rows, row, values, count)) return false;
      row += count;
    }
    if (r != RC_NO_DATA) {
      // Rows cut short by a failed link or a refused block are no whole result.
      if (r < 0) out->fail(read_record_error(r, conn));
      return true;
    }
    if (VMC_NextResult(result) != RC_SUCCESS) {
      out->last_result_set();
      return true;
    }
  }
}

}  // namespace

void VMConnection::query(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  StatementCall call;
  auto open = [self, isolate] { return self->open_implicitly(isolate); };
  if (!call.parse(args, StatementMethod::Query, open)) return;
  const std::string& sql = call.sql;

  Placeholders marks(sql);
  ParamValues params;
  if (!params.collect(isolate, marks, call.values)) return;
  // Getters and string conversions run script, which may have closed this
  // connection; nothing has been sent yet.
  if (self->state != kOpen || !self->p_conn) return throw_type_error(isolate, "The Connection is Not Open!");
  VMC_Handle conn = self->p_conn;

  Outcome out(isolate);
  double init_columns = kNoResultColumns;
  VMC_Handle opened = nullptr;  // a result that passes to a query object

  const int kind = VMC_GetSqlKind(sql.c_str());
  // A statement of another kind that has a callback may still answer rows
  // (WITH, PRAGMA, VALUES, several statements): its reply is read whole and
  // its result sets are delivered as a SELECT's.
  const bool reads_rows = kind == SQL_KIND_SELECT ? call.reads_rows : !call.callback.IsEmpty();
  // A value that cannot go out whole stops the statement before anything is sent.
  const bool sendable = params.refusal().empty();
  if (sendable) {
    params.bind(marks, &conn);
  } else {
    out.fail(params.refusal());
  }
  switch (sendable ? kind : kNothingSent) {
    case kNothingSent:
      break;
    case SQL_KIND_INSERT:
    case SQL_KIND_UPDATE:
    case SQL_KIND_DELETE: {
      // With a callback, rows that the reply carries (a RETURNING clause, a
      // SELECT behind the statement) are delivered as a SELECT's are; a reply
      // of counts, and any that failed, answers with the status object.
      VMC_Handle rows = nullptr;
      const ValueAnswer answer = execute_value(&conn, sql.c_str(), call.callback.IsEmpty() ? nullptr : &rows);
      if (rows && answer.code >= 0) {
        self->free_result();
        self->p_res = rows;
        if (!read_result_sets(isolate, &self->p_res, conn, &out)) return;
        break;
      }
      if (rows) VMC_FreeResult(&rows);
      if (answer.code < 0) out.fail_execution(answer.code, conn);
      // The area holds what the reply's last row id or count left there,
      // which after several statements need not be the first one's kind.
      const bool by_item = answer.holds == SQL_KIND_INSERT || answer.holds == SQL_KIND_UPDATE ||
                           answer.holds == SQL_KIND_DELETE;
      const int holds = by_item ? answer.holds : kind;
      if (holds == SQL_KIND_INSERT) {
        out.status("new RowId", utf8_string(isolate, answer.text));
      } else {
        out.status(holds == SQL_KIND_UPDATE ? "UPDATE EFFECTNUM" : "DELETE EFFECTNUM",
                   v8::Integer::New(isolate, answer.count));
      }
      break;
    }
    default:
      if (!reads_rows) {
        const int code = VMC_ExecuteNoQuery(&conn, sql.c_str());
        if (code < 0) out.fail_execution(code, conn);
        break;
      }
      [[fallthrough]];
    case SQL_KIND_SELECT: {
      VMC_Handle result = nullptr;
      int columns = 0;
      int64_t rows = 0;
      int affected = 0;
      const int code = VMC_ExecuteQuery(&conn, sql.c_str(), &result, &columns, &rows, &affected);
      if (code < 0) {
        out.fail_execution(code, conn);
        if (result) VMC_FreeResult(&result);
        break;
      }
      if (!reads_rows) {
        // The query object reads the rows later.
        opened = result;
        init_columns = columns;
        break;
      }
      self->free_result();
      self->p_res = result;
      if (!read_result_sets(isolate, &self->p_res, conn, &out)) return;
      break;
    }
  }

  if (!call.callback.IsEmpty()) {
    v8::Local<v8::Value> argv[] = {out.error(), out.delivered_rows(), out.delivered_fields()};
    call_back(isolate, call.callback, 3, argv);
    return;
  }
  v8::Local<v8::Value> init[] = {v8::Number::New(isolate, init_columns), v8::Number::New(isolate, kNoResultHandle),
                                 out.error()};
  v8::Local<v8::Object> made;
  if (VMQuery::NewInstance(isolate, utf8_string(isolate, sql), v8::Array::New(isolate, init, 3), opened, self,
                           args.Holder())
          .ToLocal(&made)) {
    args.GetReturnValue().Set(made);
  }
}

}  // namespace zorezu
