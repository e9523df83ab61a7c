// SQL literal substitution.
#include "src/sql_literals.h"

#include <cstdlib>

#include "client/vmc.h"
#include "src/placeholders.h"
#include "src/script_util.h"

namespace zorezu {

namespace {

constexpr size_t kDatetimeBufSize = 28;

enum class Literal { Quoted, Bare, Array, Buffer, None };

// How a value is written, and its text for the quoted and bare kinds. A
// string conversion that throws leaves the value without a literal.
Literal literal_of(v8::Isolate* isolate, v8::Local<v8::Value> value, std::string* text) {
  if (value->IsString()) {
    *text = utf8_text(isolate, value);
    return Literal::Quoted;
  }
  if (value->IsNumber() || value->IsDate()) {
    v8::Local<v8::String> string;
    if (!value->ToString(isolate->GetCurrentContext()).ToLocal(&string)) return Literal::None;
    *text = utf8_text(isolate, string);
    if (value->IsNumber()) return Literal::Bare;
    *text = date_text_to_sql(*text);
    return Literal::Quoted;
  }
  if (value->IsBoolean()) {
    *text = value->IsTrue() ? "true" : "false";
    return Literal::Bare;
  }
  if (value->IsNullOrUndefined()) {
    *text = "NULL";
    return Literal::Bare;
  }
  if (value->IsArray()) return Literal::Array;
  if (value->IsArrayBufferView()) return Literal::Buffer;
  return Literal::None;
}

// A value between single quotes, each quote of its own doubled so that it
// cannot end the literal.
std::string quote_literal(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Replaces the first '?' run from *from on when it is at most longest long,
// and moves *from past the inserted text: what a value brings in, a '?'
// included, is never taken for a mark. A longer run stays, and *from with it.
std::string replace_run(const std::string& text, const std::string& value, size_t longest, bool quote_one,
                        size_t* from) {
  const PlaceholderSpan run = find_placeholder(text, *from);
  if (run.length == 0 || run.length > longest) return text;
  const std::string inserted = run.length == 1 && quote_one ? quote_literal(value) : value;
  *from = run.position + inserted.size();
  return sql_left(text, run.position) + inserted + sql_right(text, run.position + run.length);
}

std::string replace_first_run(const std::string& text, const std::string& value, size_t longest, bool quote_one) {
  size_t from = 0;
  return replace_run(text, value, longest, quote_one, &from);
}

}  // namespace

std::string sql_left(const std::string& text, size_t n) { return text.substr(0, n); }

std::string sql_right(const std::string& text, size_t n) { return n >= text.size() ? std::string() : text.substr(n); }

std::string substitute_quoted(const std::string& text, const std::string& value) {
  return replace_first_run(text, value, 2, true);
}

std::string substitute_bare(const std::string& text, const std::string& value) {
  return replace_first_run(text, value, 2, false);
}

std::string substitute_single(const std::string& text, const std::string& value) {
  return replace_first_run(text, value, 1, false);
}

std::string array_to_sql_list(v8::Isolate* isolate, v8::Local<v8::Array> array) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  std::string list = "(";
  // The length is read at every step: a getter may change it.
  for (uint32_t i = 0; i < array->Length(); ++i) {
    v8::Local<v8::Value> element;
    std::string text;
    if (!array->Get(context, i).ToLocal(&element)) return "?";
    const Literal kind = literal_of(isolate, element, &text);
    if (kind == Literal::Quoted) {
      text = quote_literal(text);
    } else if (kind != Literal::Bare) {
      return "?";
    }
    if (i > 0) list += ',';
    list += text;
  }
  return list + ")";
}

std::string nested_array_to_sql(v8::Isolate* isolate, v8::Local<v8::Array> array) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  std::string lists;
  for (uint32_t i = 0; i < array->Length(); ++i) {
    v8::Local<v8::Value> element;
    if (!array->Get(context, i).ToLocal(&element) || !element->IsArray()) return "?";
    const std::string list = array_to_sql_list(isolate, element.As<v8::Array>());
    if (list == "?") return "?";
    if (i > 0) lists += ' ';
    lists += list;
  }
  return lists;
}

SQLInfo params_to_sql_text(v8::Isolate* isolate, const std::string& sql, v8::Local<v8::Array> params) {
  SQLInfo info;
  info.result_sql = sql;
  for (int k = 0; k < kMaxLobParams; ++k) {
    info.lob_index[k] = -1;
    info.lob_position[k] = -2;
  }
  if (params.IsEmpty()) return info;
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  // Where the search for the next mark begins: behind what was inserted.
  size_t from = 0;
  for (uint32_t i = 0; i < params->Length(); ++i) {
    v8::Local<v8::Value> value;
    std::string text;
    if (!params->Get(context, i).ToLocal(&value)) return info;
    switch (literal_of(isolate, value, &text)) {
      case Literal::Quoted: info.result_sql = replace_run(info.result_sql, text, 2, true, &from); break;
      case Literal::Bare: info.result_sql = replace_run(info.result_sql, text, 2, false, &from); break;
      case Literal::Array: {
        const std::string nested = nested_array_to_sql(isolate, value.As<v8::Array>());
        if (nested == "?") return info;
        info.result_sql = replace_run(info.result_sql, nested, 1, false, &from);
        break;
      }
      case Literal::Buffer: {
        // The mark becomes '^' until the end, so that later values take the
        // '?' after it. A Buffer without a mark left has nothing to record;
        // one beyond the record's room stops the work.
        const PlaceholderSpan run = find_placeholder(info.result_sql, from);
        if (run.length == 0) break;
        if (info.lob_count >= kMaxLobParams) return info;
        info.lob_position[info.lob_count] = static_cast<int32_t>(run.position);
        info.lob_index[info.lob_count] = static_cast<int32_t>(i);
        ++info.lob_count;
        info.result_sql = replace_run(info.result_sql, "^", 2, false, &from);
        break;
      }
      case Literal::None: return info;
    }
  }
  for (int k = 0; k < info.lob_count; ++k) info.result_sql[static_cast<size_t>(info.lob_position[k])] = '?';
  return info;
}

char* format_datetime_alloc(int64_t ms) {
  char* text = static_cast<char*>(std::calloc(1, kDatetimeBufSize));
  if (text) VMC_FormatDatetime(ms, text);
  return text;
}

}  // namespace zorezu
