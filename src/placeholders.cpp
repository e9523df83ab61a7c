// Counting and naming the placeholders of a statement text.
#include "src/placeholders.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace zorezu {

namespace {

// Counts marks of one kind; a run of them counts 1 for the first two and
// takes one off for each beyond.
template <typename Quoting>
int count_marks(const std::string& sql, char mark, Quoting quoting) {
  int count = 0;
  int run = 0;
  size_t i = 0;
  while (i != sql.size()) {
    const bool outside = quoting(sql[i]);
    if (sql[i] == mark && outside) {
      ++count;
      do {
        ++i;
        if (++run > 2) --count;
      } while (i != sql.size() && sql[i] == mark);
    } else {
      ++i;
      run = 0;
    }
  }
  return count;
}

bool ends_name(char c) {
  return c == ' ' || c == ';' || c == ')' || c == ',' || c == '\n' || c == '\r' || c == '\t';
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

int count_qmark_params(std::string sql) {
  return count_marks(sql, '?', [](char) { return true; });
}

int count_named_params(std::string sql) {
  bool quoted = false;
  return count_marks(sql, ':', [&quoted](char c) {
    if (c == '\'') quoted = !quoted;
    return !quoted;
  });
}

std::vector<std::string> scan_param_names(const std::string& sql) {
  std::vector<std::string> names;
  size_t k = 0;
  bool quoted = false;
  size_t i = 0;
  while (i < sql.size()) {
    if (sql[i] == '\'') quoted = !quoted;
    if (sql[i] != ':' || quoted) {
      ++i;
      continue;
    }
    std::string name;
    size_t j = i + 1;
    for (; j < sql.size() && !ends_name(sql[j]); ++j) name += sql[j];
    if (name.empty()) {
      // A colon with nothing after it names nothing; step past it.
      ++i;
      continue;
    }
    if (names.size() <= k) names.resize(k + 1);
    names[k] = std::move(name);
    if (j < sql.size()) ++k;
    // The name's last character is looked at once more: a quote there flips
    // the quoting, a colon there starts nothing.
    i = j - 1;
    if (sql[i] == '\'') quoted = !quoted;
    ++i;
  }
  return names;
}

Placeholders::Placeholders(const std::string& sql)
    : qmark_count(count_qmark_params(sql)), named_count(count_named_params(sql)) {
  count = named_count != 0 ? named_count : qmark_count;
  by_position = qmark_count != 0;
  if (named_count != 0) names = scan_param_names(sql);
}

const std::string& Placeholders::name(int i) const {
  static const std::string kNone;
  return i >= 0 && static_cast<size_t>(i) < names.size() ? names[static_cast<size_t>(i)] : kNone;
}

std::string date_text_to_sql(std::string text) {
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%*s%3s %2d %4d %2d:%2d:%2d", month, &day, &year, &hour, &minute, &second) != 6) {
    return std::string();
  }
  int index = -1;
  for (int m = 0; m < 12; ++m) {
    if (std::strcmp(month, kMonths[m]) == 0) {
      index = m;
      break;
    }
  }
  if (index < 0) return std::string();
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = index;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  // mktime answers -1 for the last second of 1969 as well as for a failure;
  // only a failure leaves tm_wday as it was.
  parts.tm_wday = -1;
  const std::time_t t = std::mktime(&parts);
  if (parts.tm_wday < 0) return std::string();
  std::tm local{};
  if (!localtime_r(&t, &local)) return std::string();
  // A SQL datetime has a year of four digits, from 0001 to 9999.
  const int full_year = local.tm_year + 1900;
  if (full_year < 1 || full_year > 9999) return std::string();
  char out[32] = {};
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", full_year, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return std::string(out);
}

PlaceholderSpan find_placeholder(const std::string& text, size_t from) {
  const size_t position = text.find('?', from);
  if (position == std::string::npos) return {position, 0};
  const size_t end = text.find_first_not_of('?', position);
  return {position, (end == std::string::npos ? text.size() : end) - position};
}

}  // namespace zorezu
