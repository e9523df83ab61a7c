// Script values written into a SQL text as literals instead of being bound:
// each '?' run, from left to right, takes the text of the next value. Buffers
// cannot be literals; their marks stay '?' and are reported beside the text so
// that a caller can bind those values as parameters. Every function works on a
// copy and returns a new text.
#ifndef RIZEZOVA_SRC_SQL_LITERALS_H
#define RIZEZOVA_SRC_SQL_LITERALS_H

#include <node.h>

#include <cstdint>
#include <string>

namespace zorezu {

constexpr int kMaxLobParams = 20;

struct SQLInfo {
  std::string result_sql;
  int32_t lob_count = 0;
  // For each Buffer value kept as '?', in order: its index among the values
  // (-1 when unused) and where its '?' stands in result_sql (-2 when unused).
  int32_t lob_index[kMaxLobParams];
  int32_t lob_position[kMaxLobParams];
};

// The first n characters; the characters from n on ("" when n is past the end).
std::string sql_left(const std::string& text, size_t n);
std::string sql_right(const std::string& text, size_t n);

// The text with its first '?' run replaced; a text without '?' comes back
// unchanged. quoted: '?' by 'value' (its own quotes doubled), '??' by value
// as it stands. bare: '?' or '??' by value. single: only a lone '?' by value.
// Any other run length is left alone.
std::string substitute_quoted(const std::string& text, const std::string& value);
std::string substitute_bare(const std::string& text, const std::string& value);
std::string substitute_single(const std::string& text, const std::string& value);

// "(" the elements' literals joined by "," ")"; "()" when empty; "?" when an
// element has no literal (arrays, Buffers, objects) or its getter threw.
std::string array_to_sql_list(v8::Isolate* isolate, v8::Local<v8::Array> array);
// The lists of an array of arrays joined by " "; "" when empty; "?" when an
// element is no array or has no list.
std::string nested_array_to_sql(v8::Isolate* isolate, v8::Local<v8::Array> array);

// The text with every value substituted in order: strings and dates quoted,
// numbers, booleans and NULL bare, arrays as their nested lists, Buffers kept
// as '?' and recorded. Each value takes the first run behind what the one
// before it inserted; a run of three or more takes nothing, and every later
// value meets it again (a Buffer is recorded at it all the same). A Buffer
// without a mark left is passed over. A value of no literal kind, a failed
// nested list or a Buffer beyond the record's room ends the work early: the
// record is handed back as it stands then, earlier Buffers' marks still '^'.
SQLInfo params_to_sql_text(v8::Isolate* isolate, const std::string& sql, v8::Local<v8::Array> params);

// "YYYY-MM-DD hh:mm:ss" of milliseconds since 1970 in a new 28-byte heap
// buffer that the caller frees; null when memory ran out.
char* format_datetime_alloc(int64_t ms);

}  // namespace zorezu

#endif
