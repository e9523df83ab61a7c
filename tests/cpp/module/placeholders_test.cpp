#include "src/placeholders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using zorezu::Placeholders;

namespace {

struct Case {
  const char* sql;
  int qmarks;
  int named;
  std::vector<std::string> names;
};

}  // namespace

TEST(Placeholders, CountsAndNames) {
  const Case cases[] = {
      {"SELECT ?", 1, 0, {}},
      {"SELECT ??", 1, 0, {}},
      {"SELECT ???", 0, 0, {}},
      {"SELECT ????", -1, 0, {}},
      {"SELECT ? , ?, '?'", 3, 0, {}},  // quotes do not hide a '?'
      {"SELECT ':a', :b", 0, 1, {"b"}},
      {"WHERE id = :id)", 0, 1, {"id"}},
      {"VALUES (:id, :name)", 0, 2, {"id", "name"}},
      {"WHERE x = :a:b ", 0, 2, {"a:b"}},
      {"SELECT x::int", 0, 1, {":int"}},
      {"SELECT :a\t:b\r\n:c;", 0, 3, {"a", "b", "c"}},
      {"WHERE a = ? AND b = :b", 1, 1, {"b"}},
      // A colon that names nothing is passed over; the others keep their order.
      {"SELECT : , :x", 0, 2, {"x"}},
      {"SELECT :", 0, 1, {}},
      {"SELECT :a: AND :b", 0, 3, {"a:", "b"}},
      // Only a quote that ends a name flips the quoting for the scan; the
      // count sees every quote.
      {"SELECT :a' ':b", 0, 2, {"a'", "b"}},
      {"SELECT :a'b ':c", 0, 2, {"a'b"}},
  };
  for (const Case& c : cases) {
    const Placeholders marks{std::string(c.sql)};
    EXPECT_EQ(marks.qmark_count, c.qmarks) << c.sql;
    EXPECT_EQ(marks.named_count, c.named) << c.sql;
    EXPECT_EQ(marks.names, c.names) << c.sql;
    EXPECT_EQ(marks.count, c.named != 0 ? c.named : c.qmarks) << c.sql;
  }
}

TEST(Placeholders, ManyLongNames) {
  std::string sql = "INSERT INTO t VALUES (";
  std::vector<std::string> names;
  for (int i = 0; i < 150; ++i) {
    names.push_back("a_rather_long_parameter_name_" + std::to_string(i));
    sql += (i ? ", :" : ":") + names.back();
  }
  const Placeholders marks(sql + ")");
  EXPECT_EQ(marks.count, 150);
  EXPECT_EQ(marks.names, names);
  EXPECT_EQ(marks.name(150), "");
}

TEST(Placeholders, DateText) {
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(zorezu::date_text_to_sql("Tue Dec 08 2026 08:25:28 GMT+0000 (Coordinated Universal Time)"),
            "2026-12-08 08:25:28");
  // The last second of 1969 is a time like any other; years have four digits.
  EXPECT_EQ(zorezu::date_text_to_sql("Wed Dec 31 1969 23:59:59 GMT+0000"), "1969-12-31 23:59:59");
  EXPECT_EQ(zorezu::date_text_to_sql("Tue Jan 01 0999 00:00:00 GMT+0000"), "0999-01-01 00:00:00");
  EXPECT_EQ(zorezu::date_text_to_sql("Sat Jan 01 10000 00:00:00 GMT+0000"), "");
  EXPECT_EQ(zorezu::date_text_to_sql("Invalid Date"), "");
  EXPECT_EQ(zorezu::date_text_to_sql("Tue Xyz 08 2026 08:25:28"), "");
  EXPECT_EQ(zorezu::date_text_to_sql("Tue Dec 08"), "");
}

TEST(Placeholders, FindPlaceholder) {
  EXPECT_EQ(zorezu::find_placeholder("a = ?? and ?").position, 4u);
  EXPECT_EQ(zorezu::find_placeholder("a = ?? and ?").length, 2u);
  EXPECT_EQ(zorezu::find_placeholder("a = ?").length, 1u);
  EXPECT_EQ(zorezu::find_placeholder("none").length, 0u);
}
