// Placeholders of a statement text: '?' marks bound by position and ':name'
// marks bound by name. Plain text work, no script values.
#ifndef RIZEZOVA_SRC_PLACEHOLDERS_H
#define RIZEZOVA_SRC_PLACEHOLDERS_H

#include <cstddef>
#include <string>
#include <vector>

namespace zorezu {

// '?' marks, quotes not considered. A run of n marks counts 1 for n of 1 or
// 2 and 3 - n beyond, so the total can be negative.
int count_qmark_params(std::string sql);
// ':' marks outside single quotes, with the same run rule.
int count_named_params(std::string sql);
// The ':name' names in order of appearance, without their colons. A name runs
// to a blank, ';', ')', ',', line feed, carriage return or tab; a colon that
// starts no name is passed over.
std::vector<std::string> scan_param_names(const std::string& sql);

// What a statement text asks for: how many values, and by position or by name.
struct Placeholders {
  explicit Placeholders(const std::string& sql);
  // The name under which value i is looked up first; empty in the '?' form.
  const std::string& name(int i) const;

  int qmark_count;
  int named_count;
  int count;          // values looked up: the named count when there is one
  bool by_position;   // bound by position whenever the text holds a '?'
  std::vector<std::string> names;
};

// "Www Mmm dd yyyy hh:mm:ss ..." (a script Date's text) as the local
// "YYYY-MM-DD hh:mm:ss", the year in four digits; empty when the text is not
// such a date or its year is not one of 1 to 9999.
std::string date_text_to_sql(std::string text);

// The first run of '?' in a text, from `from` on: where it starts and how
// long it is.
struct PlaceholderSpan {
  size_t position;
  size_t length;
};
// A text without '?' there gives {npos, 0}.
PlaceholderSpan find_placeholder(const std::string& text, size_t from = 0);

}  // namespace zorezu

#endif
