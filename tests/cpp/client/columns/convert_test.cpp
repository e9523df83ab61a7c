#include "client/results/result_life.h"
#include "client/columns/convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/results/row_store.h"
#include "client/values/type_codes.h"
#include "tests/cpp/support/result_builder.h"

namespace {

// One column of one row, asked for as different client types.
class Column : public testing::Test {
 protected:
  void TearDown() override { free_result(rs_); }

  template <typename T>
  void make(uint32_t server_type, T value) {
    rs_ = build_result({{"c", server_type}});
    row_set_value(add_row(rs_), rs_->fields, 0, value);
  }
  void make_raw(uint32_t server_type, const std::string& bytes) {
    rs_ = build_result({{"c", server_type}});
    set_raw(rs_, add_row(rs_), 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }

  int get(int ctype, void* buf, int bufsize) { return get_column_data(&rs_, 1, ctype, buf, bufsize, &len_); }

  // The text form with a roomy buffer; "<rc>" when the read fails.
  std::string text(int ctype = CT_TEXT) {
    char buf[128];
    len_ = -7;
    const int rc = get(ctype, buf, sizeof buf);
    if (rc != 0) return "<" + std::to_string(rc) + ">";
    EXPECT_EQ(len_, static_cast<int>(std::strlen(buf)));
    return buf;
  }

  ResultSet* rs_ = nullptr;
  int len_ = 0;
};

std::string be(uint64_t v, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

}  // namespace

TEST_F(Column, ChecksBeforeConversion) {
  make<int32_t>(ST_INT32, 5);
  int out = 0;
  EXPECT_EQ(get_column_data(&rs_, 1, CT_INT32, nullptr, 4, &len_), -3);
  ResultSet* none = nullptr;
  EXPECT_EQ(get_column_data(&none, 1, CT_INT32, &out, 4, &len_), -3);
  EXPECT_EQ(get_column_data(&rs_, 0, CT_INT32, &out, 4, &len_), -15);
  EXPECT_EQ(get_column_data(&rs_, 2, CT_INT32, &out, 4, &len_), -15);
  len_ = 9;
  EXPECT_EQ(get(0, &out, 4), -13);
  EXPECT_EQ(len_, 0);
  EXPECT_EQ(get(64, &out, 4), -13);
  EXPECT_EQ(get_column_data(&rs_, 1, CT_INT32, &out, 4, nullptr), 0);
  EXPECT_EQ(out, 5);

  // NULL wins over a missing conversion; no current row reads as NULL too.
  row_set_null(rs_->current_row, 0);
  len_ = 9;
  EXPECT_EQ(get(99, &out, 4), -11);
  EXPECT_EQ(len_, 0);
  rs_->current_row = nullptr;
  EXPECT_EQ(get(CT_INT32, &out, 4), -11);
}

TEST_F(Column, IntegersWidenAndNarrowOnlyWhereAllowed) {
  make<int8_t>(ST_INT8, -5);
  int32_t i32 = 0;
  int64_t i64 = 0;
  int16_t i16 = 0;
  EXPECT_EQ(get(CT_INT, &i32, 4), 0);
  EXPECT_EQ(i32, -5);
  EXPECT_EQ(len_, 4);
  EXPECT_EQ(get(CT_INT16, &i16, 2), 0);
  EXPECT_EQ(i16, -5);
  EXPECT_EQ(len_, 2);
  EXPECT_EQ(get(CT_INT64, &i64, 8), 0);
  EXPECT_EQ(i64, -5);
  free_result(rs_);

  make<int64_t>(ST_INT64, -(int64_t{1} << 40));
  EXPECT_EQ(get(CT_INT32, &i32, 4), -13) << "a 64-bit value is not cut to 32 bits";
  EXPECT_EQ(len_, 0);
  EXPECT_EQ(get(CT_INT16, &i16, 2), -13);
  float f = 0;
  EXPECT_EQ(get(CT_FLOAT, &f, 4), 0);
  EXPECT_EQ(f, -1099511627776.0f);
  uint8_t byte = 0;
  EXPECT_EQ(get(CT_BYTE, &byte, 1), 0);
  EXPECT_EQ(len_, 1);
  EXPECT_EQ(text(), "-1099511627776");
  free_result(rs_);

  make<int32_t>(ST_INT32, 123456);
  EXPECT_EQ(get(CT_INT16, &i16, 2), -13);
  EXPECT_EQ(get(CT_INTERVAL_MONTHS, &i64, 8), 0);
  EXPECT_EQ(i64, 123456);
  EXPECT_EQ(get(CT_INTERVAL_I64, &i64, 8), 0);
  EXPECT_EQ(len_, 8);
}

TEST_F(Column, BooleanReadsAsLetterButNotAsFloat) {
  make<uint8_t>(ST_BOOLEAN, 'T');
  float f;
  double d;
  len_ = 3;
  EXPECT_EQ(get(CT_FLOAT, &f, 4), -13);
  EXPECT_EQ(len_, 0);
  EXPECT_EQ(get(CT_DOUBLE, &d, 8), -13);
  int32_t i = 0;
  EXPECT_EQ(get(CT_INT, &i, 4), 0);
  EXPECT_EQ(i, 'T');
  EXPECT_EQ(text(), "T");
  *row_slot(rs_->current_row, rs_->fields, 0) = 'x';
  EXPECT_EQ(text(), "UNKNOWN");
}

TEST_F(Column, NumericText) {
  make_raw(ST_NUMERIC, "12.75");
  int64_t i64 = 0;
  double d = 0;
  int32_t i32 = 0;
  EXPECT_EQ(get(CT_INT64, &i64, 8), 0);
  EXPECT_EQ(i64, 12);
  EXPECT_EQ(get(CT_DOUBLE, &d, 8), 0);
  EXPECT_EQ(d, 12.75);
  EXPECT_EQ(get(CT_INT32, &i32, 4), 0);
  EXPECT_EQ(i32, 12);
  EXPECT_EQ(text(), "12.75");
  char bytes[41] = {};
  EXPECT_EQ(get(CT_NUMERIC, bytes, sizeof bytes), 0);
  EXPECT_EQ(len_, 5);
  EXPECT_STREQ(bytes, "12.75");
  // A told buffer size bounds the raw copy.
  char small[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(get(CT_NUMERIC, small, 3), -12);
  EXPECT_EQ(std::string(small, 4), "12.z");
  EXPECT_EQ(len_, 2);
}

TEST_F(Column, LongTextFormsComeWholeOrCutWithASign) {
  // Texts that are the value's own bytes, and a double's widest form.
  char dbl_max[400];
  std::snprintf(dbl_max, sizeof dbl_max, "%f", 1.7976931348623157e308);
  const struct {
    uint32_t type;
    std::string stored;
    std::string text;
  } cases[] = {{ST_NUMERIC, std::string(72, '7'), std::string(72, '7')},
               {ST_VARBYTES, std::string(100, 'v'), std::string(100, 'v')},
               {ST_VARBYTES_45, std::string(64, 'w') + std::string(1, '\0') + "after", std::string(64, 'w')},
               {ST_DOUBLE, "", dbl_max}};
  for (const auto& k : cases) {
    if (k.type == ST_DOUBLE) {
      make<double>(ST_DOUBLE, 1.7976931348623157e308);
    } else {
      make_raw(k.type, k.stored);
    }
    std::vector<char> roomy(k.text.size() + 1, 'x');
    EXPECT_EQ(get(CT_TEXT, roomy.data(), static_cast<int>(roomy.size())), 0) << k.type;
    EXPECT_EQ(std::string(roomy.data()), k.text) << k.type;
    EXPECT_EQ(len_, static_cast<int>(k.text.size())) << k.type;
    std::vector<char> tight(k.text.size(), 'x');
    EXPECT_EQ(get(CT_TEXT, tight.data(), static_cast<int>(tight.size())), -12) << k.type;
    EXPECT_EQ(std::string(tight.data()), k.text.substr(0, k.text.size() - 1)) << k.type;
    EXPECT_EQ(len_, 1) << k.type;
    free_result(rs_);
    rs_ = nullptr;
  }
}

TEST_F(Column, TextIsCutToTheBufferWithItsTerminator) {
  make<int32_t>(ST_INT32, 987);
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(get(CT_TEXT, buf, 3), -12);
  EXPECT_EQ(std::string(buf, 4), std::string("98\0x", 4));
  EXPECT_EQ(len_, 1);
  EXPECT_EQ(get(CT_TEXT, buf, 4), 0);
  EXPECT_STREQ(buf, "987");
  EXPECT_EQ(len_, 3);
  // No room at all: nothing is written.
  EXPECT_EQ(get(CT_TEXT, buf, 0), -12);
  EXPECT_EQ(len_, 3);
  EXPECT_EQ(get(CT_TEXT, buf, -5), -12);
  free_result(rs_);

  // Raw text: a value that fills the buffer exactly goes whole, unterminated.
  make_raw(ST_CHAR, "abcd");
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(get(CT_TEXT, buf, 4), 0);
  EXPECT_EQ(std::string(buf, 5), "abcdx");
  EXPECT_EQ(len_, 4);
  EXPECT_EQ(get(CT_TEXT, buf, 3), -12);
  EXPECT_EQ(std::string(buf, 3), std::string("ab\0", 3));
  EXPECT_EQ(len_, 2);
  free_result(rs_);

  // A type with no text and no raw form has no conversion to text.
  make_raw(ST_TIME_TZ, "abc");
  EXPECT_EQ(text(), "<-13>");
  EXPECT_EQ(len_, 0);
  free_result(rs_);
  make_raw(10030, "array");
  EXPECT_EQ(text(CT_DATETIME), "array");
}

TEST_F(Column, CalendarTexts) {
  make<int32_t>(ST_DATE, -1);
  EXPECT_EQ(text(), "1969-12-31");
  int64_t ms = 0;
  EXPECT_EQ(get(CT_DATETIME_MS, &ms, 8), -13) << "only datetimes give milliseconds";
  EXPECT_EQ(len_, 0);
  free_result(rs_);

  make<int64_t>(ST_DATETIME, -1);
  EXPECT_EQ(text(CT_DATE), "1969-12-31 23:59:59");
  EXPECT_EQ(get(CT_DATETIME_MS, &ms, 8), 0);
  EXPECT_EQ(ms, -1);
  free_result(rs_);

  make<int32_t>(ST_TIME, 25 * 3600000 + 61000);
  EXPECT_EQ(text(), "25:01:01");
  free_result(rs_);

  make_raw(ST_TIME_TZ, be(3600 * 1000, 4) + be(480, 2));
  EXPECT_EQ(text(), "9:00:00+8");
  EXPECT_EQ(text(), "9:00:00+8") << "reading does not change the stored value";
  free_result(rs_);
  make_raw(ST_TIME_TZ, be(0, 4) + be(static_cast<uint16_t>(-90), 2));
  EXPECT_EQ(text(), "-1:-30:00-1");
  free_result(rs_);

  // 2000-01-02 03:04:05 UTC in microseconds, shown at zone -120 minutes.
  make_raw(ST_DATETIME_TZ, be(946782245000000ULL, 8) + be(static_cast<uint16_t>(-120), 2));
  EXPECT_EQ(text(), "2000-01-02 01:04:05-2");
  free_result(rs_);
  make_raw(ST_DATETIME_TZ, be(0x7FFFFFFFFFFFFFFFULL, 8) + be(0x7FFF, 2));
  text();  // the far end of the range must not overflow
  free_result(rs_);
  make_raw(ST_DATETIME_TZ, "short");
  EXPECT_EQ(text(), "<-13>") << "a value too short for its parts has no text";
}

TEST_F(Column, IntervalTexts) {
  const struct {
    uint32_t type;
    int64_t value;
    const char* want;
  } cases[] = {
      {ST_IV_YEAR_MONTH, -13, "-1-01"},
      {ST_IV_YEAR_MONTH, 26, "2-02"},
      {ST_IV_DAY_HOUR, 49, "2 01"},
      {ST_IV_DAY_HOUR, -25, "-1 -1"},
      {ST_IV_DAY_MINUTE, 1441 + 60, "1 01:01"},
      {ST_IV_HOUR_MINUTE, -61, "-1:-1"},
      {ST_IV_DAY, 42, "42"},
      {ST_IV_DAY_SECOND, 90061LL * 1000000, "1 1:01:01"},
      {ST_IV_DAY_SECOND, -90061LL * 1000000, "-1 -1:-1:-1"},
      {ST_IV_HOUR_SECOND, 3723LL * 1000000 + 999999, "1:02:03"},
      {ST_IV_MINUTE_SECOND, -125LL * 1000000, "-2:-5"},
      {ST_IV_SECOND, 12345678901LL, "12345"},
  };
  for (const auto& c : cases) {
    if (row_slot_size(c.type) == 4) {
      make<int32_t>(c.type, static_cast<int32_t>(c.value));
    } else {
      make<int64_t>(c.type, c.value);
    }
    EXPECT_EQ(text(), c.want) << c.type << " " << c.value;
    free_result(rs_);
    rs_ = nullptr;
  }

  // The interval client type takes two types without writing anything.
  make<int32_t>(ST_IV_YEAR_MONTH, 7);
  int64_t out = 99;
  len_ = 5;
  EXPECT_EQ(get(CT_INTERVAL, &out, 8), 0);
  EXPECT_EQ(out, 99);
  EXPECT_EQ(len_, 5);
  int32_t months = 0;
  EXPECT_EQ(get(CT_INTERVAL_MONTHS, &months, 4), 0);
  EXPECT_EQ(months, 7);
  EXPECT_EQ(len_, 4);
  free_result(rs_);
  make<int32_t>(ST_IV_DAY, 7);
  EXPECT_EQ(get(CT_INTERVAL, &out, 8), -13);
  EXPECT_EQ(len_, 0);
}

TEST_F(Column, DoubleAndFloat) {
  make<double>(ST_DOUBLE, 1.5);
  EXPECT_EQ(text(), "1.500000000000000");
  float f = 0;
  EXPECT_EQ(get(CT_FLOAT, &f, 4), 0);
  EXPECT_EQ(f, 1.5f);
  free_result(rs_);
  make<float>(ST_FLOAT, 0.25f);
  EXPECT_EQ(text(), "0.250000");
  double d = 0;
  EXPECT_EQ(get(CT_DOUBLE, &d, 8), 0);
  EXPECT_EQ(d, 0.25);
  int32_t i = 0;
  EXPECT_EQ(get(CT_INT32, &i, 4), -13);
}

TEST_F(Column, BinaryWholeAndPiecewise) {
  make_raw(ST_BINARY, "0123456789");
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(get(CT_BINARY, buf, 16), 0);
  EXPECT_EQ(len_, 10);
  EXPECT_EQ(std::string(buf, 11), std::string("0123456789\0", 11));
  EXPECT_EQ(get(CT_BINARY, buf, 4), -12);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(len_, 6);

  const struct {
    int offset;
    int rc;
    int len;
    const char* bytes;
  } pieces[] = {{0, 0, 4, "0123"}, {4, 0, 4, "4567"}, {8, 0, 2, "89"}, {10, 0, 0, ""}, {11, -18, 11, ""},
                {-1, -18, -1, ""}};
  for (const auto& p : pieces) {
    std::memset(buf, 'x', sizeof buf);
    len_ = p.offset;
    EXPECT_EQ(get(CT_BINARY_PIECE, buf, 4), p.rc) << p.offset;
    EXPECT_EQ(len_, p.len) << p.offset;
    if (p.rc == 0 && p.len > 0) {
      EXPECT_EQ(std::string(buf, p.len), p.bytes);
    }
  }
  free_result(rs_);

  make_raw(ST_VARBYTES, "ab");
  EXPECT_EQ(get(CT_BINARY, buf, 4), -13);
  EXPECT_EQ(get(CT_BINARY_PIECE, buf, 4), -13);
  EXPECT_EQ(text(), "ab");
  uint8_t first = 0;
  EXPECT_EQ(get(CT_INT8, &first, 1), 0);
  EXPECT_EQ(first, 'a');
}
