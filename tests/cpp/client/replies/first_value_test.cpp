#include "client/results/result_life.h"
#include "client/replies/first_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "tests/cpp/support/result_builder.h"

namespace {

struct FirstColumn {
  std::string text;
  int flag = -1;
};

template <typename Fill>
FirstColumn first_column(uint32_t server_type, Fill fill) {
  ResultSet* rs = build_result({{"c", server_type}, {"other", 5}});
  add_row(rs);
  uint8_t* row = add_row(rs);
  fill(rs, row);
  rs->cursor = 1;
  rs->current_row = nullptr;
  char out[64];
  std::memset(out, 'x', sizeof out);
  FirstColumn got;
  EXPECT_TRUE(first_column_text(rs, out, &got.flag));
  EXPECT_EQ(rs->current_row, row) << "the row at the cursor becomes current";
  got.text.assign(out, strnlen(out, sizeof out));
  free_result(rs);
  return got;
}

}  // namespace

TEST(FirstColumnText, FixedTypes) {
  auto d = first_column(ST_DOUBLE, [](ResultSet* rs, uint8_t* row) { row_set_f64(row, rs->fields, 0, 1.0 / 3); });
  EXPECT_EQ(d.text, "0.3333333333333333");
  EXPECT_EQ(d.flag, 0);
  auto b = first_column(ST_BOOLEAN, [](ResultSet* rs, uint8_t* row) { row_set_i8(row, rs->fields, 0, 'F'); });
  EXPECT_EQ(b.text, "F");
  auto iv = first_column(ST_IV_YEAR_MONTH, [](ResultSet* rs, uint8_t* row) { row_set_i32(row, rs->fields, 0, -13); });
  EXPECT_EQ(iv.text, "-1-01");
  auto dt = first_column(ST_DATETIME, [](ResultSet* rs, uint8_t* row) {
    row_set_i64(row, rs->fields, 0, 789LL * 86400000);
  });
  EXPECT_EQ(dt.text, "1972-02-29 00:00:00");
  // NULL: an empty text, the flag left alone.
  auto null = first_column(ST_INT32, [](ResultSet*, uint8_t*) {});
  EXPECT_EQ(null.text, "");
  EXPECT_EQ(null.flag, -1);
}

TEST(FirstColumnText, ShortTextsInPlaceLongOnesOnTheHeap) {
  auto short_text = first_column(ST_CHAR, [](ResultSet* rs, uint8_t* row) { set_raw(rs, row, 0, "ten bytes!", 10); });
  EXPECT_EQ(short_text.text, "ten bytes!");
  EXPECT_EQ(short_text.flag, 0);

  // A long text, and a number too long for out, which is never cut.
  uint32_t len;
  char* copy;
  char out[64] = {};
  int flag = -1;
  for (const auto& [type, long_text] : {std::pair{ST_CHAR, std::string(70, 'L')},
                                        std::pair{ST_NUMERIC, std::string(64, '9')}}) {
    ResultSet* rs = build_result({{"c", type}});
    set_raw(rs, add_row(rs), 0, long_text.data(), static_cast<uint32_t>(long_text.size()));
    flag = -1;
    EXPECT_TRUE(first_column_text(rs, out, &flag));
    EXPECT_EQ(flag, 1) << type;
    std::memcpy(&len, out, 4);
    std::memcpy(&copy, out + 4, sizeof copy);
    EXPECT_EQ(len, long_text.size());
    EXPECT_EQ(std::string(copy), long_text);
    std::free(copy);
    free_result(rs);
  }
  auto numeric = first_column(ST_NUMERIC, [](ResultSet* r, uint8_t* row) {
    set_raw(r, row, 0, std::string(63, '8').data(), 63);
  });
  EXPECT_EQ(numeric.text, std::string(63, '8'));
  EXPECT_EQ(numeric.flag, 0);

  ResultSet* rs = nullptr;

  // A binary value goes to the heap whatever its length; a zoned time has no text.
  rs = build_result({{"c", ST_BLOB}});
  set_raw(rs, add_row(rs), 0, "ab", 2);
  EXPECT_TRUE(first_column_text(rs, out, &flag));
  EXPECT_EQ(flag, 1);
  std::memcpy(&copy, out + 4, sizeof copy);
  EXPECT_STREQ(copy, "ab");
  std::free(copy);
  free_result(rs);

  auto tz = first_column(ST_TIME_TZ, [](ResultSet* r, uint8_t* row) { set_raw(r, row, 0, "\0\0\0\0\0\0", 6); });
  EXPECT_EQ(tz.text, std::string(64, 'x'));
  EXPECT_EQ(tz.flag, -1);
}
