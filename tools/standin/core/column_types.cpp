#include "tools/standin/core/column_types.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <ctime>

#include "client/vmc.h"

namespace standin {

namespace {

struct Declared {
  const char* name;
  uint32_t server_type;
  uint32_t width;  // 0: the declared length (if any) is the length
};

constexpr Declared kDeclared[] = {
    // SQLite's INTEGER holds 64 bits, row ids among them.
    {"SMALLINT", ST_INT16, 2},   {"INT", ST_INT32, 4},        {"INTEGER", ST_INT64, 8},
    {"BIGINT", ST_INT64, 8},     {"TINYINT", ST_INT8, 1},     {"BOOLEAN", ST_BOOLEAN, 1},
    {"BOOL", ST_BOOLEAN, 1},     {"FLOAT", ST_FLOAT, 4},      {"REAL", ST_DOUBLE, 8},
    {"DOUBLE", ST_DOUBLE, 8},    {"DOUBLE PRECISION", ST_DOUBLE, 8},
    {"NUMERIC", ST_NUMERIC, 0},  {"DECIMAL", ST_NUMERIC, 0},  {"DATE", ST_DATE, 4},
    {"TIME", ST_TIME, 4},        {"DATETIME", ST_DATETIME, 8}, {"TIMESTAMP", ST_DATETIME, 8},
    {"CHAR", ST_CHAR, 0},        {"CHARACTER", ST_CHAR, 0},   {"VARCHAR", ST_CHAR, 0},
    {"CHARACTER VARYING", ST_CHAR, 0}, {"NCHAR", ST_CHAR, 0}, {"NVARCHAR", ST_CHAR, 0},
    {"TEXT", ST_CHAR, 0},        {"CLOB", ST_CLOB, 0},        {"BLOB", ST_BINARY, 0},
    {"BINARY", ST_BINARY, 0},    {"VARBINARY", ST_BINARY, 0},
};

// The declared type's name in upper case with single blanks, and the numbers
// in its parentheses.
struct DeclaredParts {
  std::string name;
  uint32_t args[2] = {0, 0};
  int arg_count = 0;
};

DeclaredParts split_declared(const char* text) {
  DeclaredParts out;
  const char* p = text;
  for (; *p && *p != '('; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (std::isspace(c)) {
      if (!out.name.empty() && out.name.back() != ' ') out.name += ' ';
    } else {
      out.name += static_cast<char>(std::toupper(c));
    }
  }
  while (!out.name.empty() && out.name.back() == ' ') out.name.pop_back();
  if (*p == '(') {
    ++p;
    while (*p && *p != ')' && out.arg_count < 2) {
      while (*p == ' ') ++p;
      uint64_t v = 0;
      bool digits = false;
      for (; std::isdigit(static_cast<unsigned char>(*p)); ++p, digits = true) v = v < 100000000 ? v * 10 + (*p - '0') : v;
      if (digits) out.args[out.arg_count++] = static_cast<uint32_t>(v);
      while (*p == ' ') ++p;
      if (*p != ',') break;
      ++p;
    }
  }
  return out;
}

// Reads 1 to max_digits digits; false when there is none.
bool take_number(std::string_view text, size_t* at, int max_digits, int* out) {
  int v = 0;
  int n = 0;
  while (*at < text.size() && n < max_digits && std::isdigit(static_cast<unsigned char>(text[*at]))) {
    v = v * 10 + (text[*at] - '0');
    ++*at;
    ++n;
  }
  *out = v;
  return n > 0;
}

bool take_char(std::string_view text, size_t* at, char c) {
  if (*at < text.size() && text[*at] == c) {
    ++*at;
    return true;
  }
  return false;
}

struct Calendar {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, ms = 0;
  bool utc = false;  // a trailing 'Z'
};

bool parse_date(std::string_view text, size_t* at, Calendar* c) {
  while (*at < text.size() && text[*at] == ' ') ++*at;
  const size_t start = *at;
  if (!take_number(text, at, 4, &c->year) || *at - start != 4) return false;
  if (!take_char(text, at, '-') || !take_number(text, at, 2, &c->month)) return false;
  if (!take_char(text, at, '-') || !take_number(text, at, 2, &c->day)) return false;
  return c->month >= 1 && c->month <= 12 && c->day >= 1 && c->day <= 31;
}

bool parse_time(std::string_view text, size_t* at, Calendar* c) {
  if (!take_number(text, at, 2, &c->hour) || !take_char(text, at, ':') || !take_number(text, at, 2, &c->minute))
    return false;
  if (take_char(text, at, ':')) {
    if (!take_number(text, at, 2, &c->second)) return false;
    if (take_char(text, at, '.')) {
      int digits = 0;
      for (; *at < text.size() && std::isdigit(static_cast<unsigned char>(text[*at])); ++*at, ++digits) {
        if (digits < 3) c->ms = c->ms * 10 + (text[*at] - '0');
      }
      if (digits == 0) return false;
      for (; digits < 3; ++digits) c->ms *= 10;
    }
  }
  return c->hour < 24 && c->minute < 60 && c->second < 61;
}

// Only blanks (and one 'Z' for a UTC text) may follow a value.
bool at_end(std::string_view text, size_t at, Calendar* c) {
  if (c && at < text.size() && text[at] == 'Z') {
    c->utc = true;
    ++at;
  }
  while (at < text.size() && text[at] == ' ') ++at;
  return at == text.size();
}

// A date, optionally followed by a time.
bool parse_datetime(std::string_view text, Calendar* c) {
  size_t at = 0;
  if (!parse_date(text, &at, c)) return false;
  if (at < text.size() && (text[at] == ' ' || text[at] == 'T')) {
    size_t t = at + 1;
    while (t < text.size() && text[t] == ' ') ++t;
    if (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t]))) {
      if (!parse_time(text, &t, c)) return false;
      at = t;
    }
  }
  return at_end(text, at, c);
}

int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool declared_column_type(const char* declared, ColumnType* out) {
  if (!declared || !*declared) return false;
  const DeclaredParts parts = split_declared(declared);
  for (const Declared& d : kDeclared) {
    if (parts.name != d.name) continue;
    out->server_type = d.server_type;
    out->length = d.width ? d.width : (parts.arg_count > 0 ? parts.args[0] : 0);
    out->attr = d.server_type == ST_NUMERIC && parts.arg_count > 1 ? parts.args[1] : 0;
    return true;
  }
  // Other names take SQLite's own affinity rules.
  const std::string& n = parts.name;
  auto has = [&](const char* word) { return n.find(word) != std::string::npos; };
  if (has("INT")) {
    *out = {ST_INT64, 8, 0};
  } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
    *out = {ST_CHAR, parts.arg_count > 0 ? parts.args[0] : 0, 0};
  } else if (has("BLOB")) {
    *out = {ST_BINARY, 0, 0};
  } else if (has("REAL") || has("FLOA") || has("DOUB")) {
    *out = {ST_DOUBLE, 8, 0};
  } else {
    return false;
  }
  return true;
}

ColumnType value_column_type(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER: return {ST_INT64, 8, 0};
    case SQLITE_FLOAT: return {ST_DOUBLE, 8, 0};
    case SQLITE_BLOB: return {ST_BINARY, 0, 0};
    default: return {ST_CHAR, 0, 0};
  }
}

bool text_to_days(std::string_view text, int32_t* days) {
  Calendar c;
  if (!parse_datetime(text, &c)) return false;
  *days = static_cast<int32_t>(days_from_civil(c.year, c.month, c.day));
  return true;
}

bool text_to_day_ms(std::string_view text, int32_t* ms) {
  Calendar c;
  size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  // A time alone has its ':' in the third place; anything else must be a datetime.
  const bool time_only = text.size() >= at + 3 && text[at + 2] == ':';
  if (time_only ? !(parse_time(text, &at, &c) && at_end(text, at, nullptr)) : !parse_datetime(text, &c)) return false;
  *ms = ((c.hour * 60 + c.minute) * 60 + c.second) * 1000 + c.ms;
  return true;
}

bool local_text_to_ms(std::string_view text, int64_t* ms) {
  Calendar c;
  if (!parse_datetime(text, &c)) return false;
  *ms = ((days_from_civil(c.year, c.month, c.day) * 24 + c.hour) * 60 + c.minute) * 60000 +
        int64_t{c.second} * 1000 + c.ms;
  return true;
}

std::string ms_to_local_text(int64_t ms) {
  int64_t sec = ms / 1000;
  int64_t frac = ms % 1000;
  if (frac < 0) {
    frac += 1000;
    --sec;
  }
  const std::time_t t = static_cast<std::time_t>(sec);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return {};
  char buf[64];
  // The year in four digits, as a datetime text has it.
  size_t n = static_cast<size_t>(std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d",
                                               tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                               tm.tm_min, tm.tm_sec));
  if (frac != 0) n += static_cast<size_t>(std::snprintf(buf + n, sizeof buf - n, ".%03d", static_cast<int>(frac)));
  return std::string(buf, n);
}

}  // namespace standin
