// query: argument checks, the implicit connect, binding, the library call
// chosen by the statement's kind, and handing the outcome to the script.
#include <cstring>

#include "src/column_values.h"
#include "src/param_binding.h"
#include "src/script_util.h"
#include "src/value_answer.h"
#include "src/vm_connection.h"
#include "src/vm_query.h"

namespace zorezu {

namespace {

// What a query object's init array carries when no result set was opened.
constexpr int kNoResultColumns = 123;
constexpr double kNoResultHandle = 1234567891012;

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

// Reads every row of every result set that *result leads to. The handle is
// the connection's current result and follows it from set to set. False
// when script threw.
bool read_result_sets(v8::Isolate* isolate, VMC_Handle* result, Outcome* out) {
  ColumnReader reader(RowCaller::Query);
  RowShape shape(isolate);
  std::vector<int> types;
  std::vector<v8::Local<v8::Value>> values;
  for (;;) {
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
        for (uint32_t c = 0; c < columns; ++c) {
          values.push_back(reader.value(isolate, result, static_cast<int>(c) + 1, types[c]));
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
      if (r < 0) out->fail(r == RC_READ_FAILED ? kLinkClosed : "READ RECORD ERROR");
      return true;
    }
    if (VMC_NextResult(result) != RC_SUCCESS) {
      out->last_result_set();
      return true;
    }
    out->next_result_set();
  }
}

}  // namespace

void VMConnection::query(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  const int argc = args.Length();
  if (argc > 3) return throw_type_error(isolate, "Wrong arguments number");
  if (args[0]->IsUndefined()) return throw_type_error(isolate, "The first argument undefined.");
  if (self->state != kNotConnected && self->state != kOpen) {
    return throw_type_error(isolate, "The Connection is Not Open!");
  }
  if (!self->open_implicitly(isolate)) return;

  // The statement.
  v8::Local<v8::Value> statement = args[0];
  std::string sql;
  if (statement->IsFunction()) {
    v8::Local<v8::Value> argv[] = {v8::Null(isolate)};
    call_back(isolate, statement, 1, argv);
    return;
  } else if (statement->IsString()) {
    if (argc == 3 && !args[2]->IsFunction()) {
      return throw_type_error(isolate, "The third argument is not callback function");
    }
    sql = utf8_text(isolate, statement);
  } else if (statement->IsObject()) {
    v8::Local<v8::Object> object = statement.As<v8::Object>();
    v8::Local<v8::Value> text, ignored;
    v8::Local<v8::String> string;
    if (!object->Get(context, key_string(isolate, "sql")).ToLocal(&text) ||
        !object->Get(context, key_string(isolate, "values")).ToLocal(&ignored) ||
        !text->ToString(context).ToLocal(&string)) {
      return;
    }
    sql = utf8_text(isolate, string);
  } else {
    return throw_type_error(isolate, "Error: The args Query sql is needed ");
  }

  Placeholders marks(sql);
  ParamValues params;
  if (!params.collect(isolate, marks, argc > 1 ? args[1] : v8::Undefined(isolate).As<v8::Value>())) return;
  // Getters and string conversions run script, which may have closed this
  // connection; nothing has been sent yet.
  if (self->state != kOpen || !self->p_conn) return throw_type_error(isolate, "The Connection is Not Open!");
  VMC_Handle conn = self->p_conn;
  params.bind(marks, &conn);

  v8::Local<v8::Value> callback;
  if (argc == 3 && args[2]->IsFunction()) {
    callback = args[2];
  } else if (argc >= 2 && args[1]->IsFunction()) {
    callback = args[1];
  }
  Outcome out(isolate);
  double init_columns = kNoResultColumns;
  VMC_Handle opened = nullptr;  // a result that passes to a query object

  const int kind = VMC_GetSqlKind(sql.c_str());
  switch (kind) {
    case SQL_KIND_INSERT: {
      const ValueAnswer answer = execute_value(&conn, sql.c_str());
      if (answer.code < 0) out.fail_execution(answer.code, conn);
      out.status("new RowId", utf8_string(isolate, answer.text));
      break;
    }
    case SQL_KIND_UPDATE:
    case SQL_KIND_DELETE: {
      const ValueAnswer answer = execute_value(&conn, sql.c_str());
      if (answer.code < 0) out.fail_execution(answer.code, conn);
      out.status(kind == SQL_KIND_UPDATE ? "UPDATE EFFECTNUM" : "DELETE EFFECTNUM",
                 v8::Integer::New(isolate, answer.count));
      break;
    }
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
      if (argc == 1 || (argc == 2 && !args[1]->IsFunction())) {
        // The query object reads the rows later.
        opened = result;
        init_columns = columns;
        break;
      }
      self->free_result();
      self->p_res = result;
      if (!read_result_sets(isolate, &self->p_res, &out)) return;
      break;
    }
    default: {
      const int code = VMC_ExecuteNoQuery(&conn, sql.c_str());
      if (code < 0) out.fail_execution(code, conn);
      break;
    }
  }

  if (!callback.IsEmpty()) {
    v8::Local<v8::Value> argv[] = {out.error(), out.delivered_rows(), out.delivered_fields()};
    call_back(isolate, callback, 3, argv);
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
