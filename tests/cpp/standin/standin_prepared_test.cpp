// Prepared statements, cursors over them and batches against the stand-in
// server, through the client library.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "tests/cpp/support/standin_fixture.h"

namespace standin_test {
namespace {

using Rows = std::vector<std::string>;

// Text elements as the array binders take them: a u32 length, then the bytes.
std::vector<uint8_t> prefixed(const std::vector<std::string>& values) {
  std::vector<uint8_t> out;
  for (const std::string& v : values) {
    const auto n = static_cast<uint32_t>(v.size());
    const auto* p = reinterpret_cast<const uint8_t*>(&n);
    out.insert(out.end(), p, p + 4);
    out.insert(out.end(), v.begin(), v.end());
  }
  return out;
}

int bind_int(VMC_Handle c, const char* name, int32_t v) {
  int len = 4;
  return VMC_BindParamByName(&c, name, 1, CT_INT32, &v, 4, nullptr, &len);
}

TEST_F(StandinTest, PreparedStatementsRunByNameAndUnderCursors) {
  VMC_Handle c = open();
  ASSERT_EQ(exec(c, "CREATE TABLE p (a INT, b VARCHAR(10))"), 0);

  // The default statement, executed twice with values bound by name.
  ASSERT_EQ(VMC_Prepare(&c, "INSERT INTO p VALUES (:a, :b)"), 0);
  for (int32_t a : {1, 2}) {
    ASSERT_EQ(bind_int(c, "a", a), 0);
    int len = 3;
    VMC_BindParamByName(&c, "b", 1, CT_TEXT, const_cast<char*>(a == 1 ? "one" : "two"), 3, nullptr, &len);
    EXPECT_GE(VMC_Execute(&c, nullptr), 0) << error_of(c);
  }
  EXPECT_EQ(rows(c, "SELECT a, b FROM p ORDER BY a"), (Rows{"1|one", "2|two"}));

  // A named statement that returns rows, executed directly.
  char name[16] = {};
  ASSERT_EQ(VMC_Prepare2(&c, "SELECT a, b FROM p WHERE a >= ? ORDER BY a", name), RC_PREPARED_ROWS);
  int32_t from = 2;
  int len = 4;
  VMC_BindParam(&c, 1, 1, CT_INT32, &from, 4, &len);
  ResultSet* direct = nullptr;
  ASSERT_GE(VMC_Execute2(&c, name, nullptr, &direct), 0) << error_of(c);
  VMC_Handle h = direct;
  EXPECT_EQ(fetch_all(&h), (Rows{"2|two"}));
  VMC_FreeResult(&h);

  // The same statement under a cursor, fetched block by block.
  from = 1;
  VMC_BindParam(&c, 1, 1, CT_INT32, &from, 4, &len);
  char cursor[64] = {};
  ResultSet* declared = nullptr;
  ASSERT_GE(VMC_Execute2(&c, name, cursor, &declared), 0) << error_of(c);
  EXPECT_EQ(std::string(cursor), std::string(name) + "_CUR");
  EXPECT_EQ(declared ? declared->field_count : -1, 2);
  h = declared;
  VMC_FreeResult(&h);
  Rows fetched;
  for (;;) {
    ResultSet* block = nullptr;
    int fields = 0;
    int64_t count = 0;
    const int one = 1;
    VMC_FetchCursor(&c, cursor, &block, &fields, &count, &one);
    h = block;
    const Rows got = h ? fetch_all(&h) : Rows{};
    VMC_FreeResult(&h);
    if (got.empty()) break;
    fetched.insert(fetched.end(), got.begin(), got.end());
  }
  EXPECT_EQ(fetched, (Rows{"1|one", "2|two"}));
  EXPECT_EQ(VMC_CloseCursor(&c, cursor), 0);

  // Gone once deallocated; the server says so.
  EXPECT_EQ(VMC_UnPrepare(&c, name), 0);
  EXPECT_EQ(VMC_UnPrepare(&c, name), RC_ERROR);
  EXPECT_EQ(error_of(c), std::string("[ES902]no prepared statement named ") + name);
  EXPECT_EQ(VMC_Execute2(&c, name, nullptr, &direct), RC_ERROR);
  EXPECT_EQ(VMC_Prepare(&c, "SELEKT 1"), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES001]near \"SELEKT\": syntax error");
  EXPECT_EQ(value(c, "SELECT count(*) FROM p"), "2");
}

TEST_F(StandinTest, BatchesRunEveryRowOrNone) {
  for (char reply : {'N', 'K'}) {
    SCOPED_TRACE(reply);
    options.login_reply = reply;
    restart();
    VMC_Handle c = open();
    ASSERT_EQ(exec(c, "CREATE TABLE b (n INT PRIMARY KEY, s VARCHAR(120), d DOUBLE)"), 0);

    // Enough rows of long texts for several blocks.
    constexpr int kRows = 12000;
    std::vector<int32_t> ns(kRows);
    std::vector<std::string> ss(kRows);
    std::vector<double> ds(kRows);
    std::vector<int> n_len(kRows, 4), s_len(kRows), d_len(kRows, 8);
    for (int i = 0; i < kRows; ++i) {
      ns[i] = i;
      ss[i] = std::string(60 + i % 50, static_cast<char>('a' + i % 26));
      s_len[i] = static_cast<int>(ss[i].size());
      ds[i] = i * 0.25;
    }
    d_len[7] = 0;  // a null in a packed row
    std::vector<uint8_t> texts = prefixed(ss);
    ASSERT_EQ(VMC_BindParamArray(&c, 1, 3, 1, CT_INT32, kRows, ns.data(), kRows * 4, n_len.data()), 0);
    ASSERT_EQ(VMC_BindParamArray(&c, 2, 3, 1, CT_TEXT, kRows, texts.data(), static_cast<int>(texts.size()),
                                 s_len.data()),
              0);
    ASSERT_EQ(VMC_BindParamArray(&c, 3, 3, 1, CT_DOUBLE, kRows, ds.data(), kRows * 8, d_len.data()), 0);
    ASSERT_GE(VMC_ExecuteBatch(&c, "INSERT INTO b VALUES (?, ?, ?)", kRows), 0) << error_of(c);
    EXPECT_EQ(value(c, "SELECT count(*) || '|' || sum(n) || '|' || sum(length(s)) || '|' || sum(d) FROM b"),
              "12000|71994000|" + std::to_string(kRows * 60 + (kRows / 50) * (49 * 50 / 2)) + "|17998498.25");
    EXPECT_EQ(rows(c, "SELECT n, s, d FROM b WHERE n IN (0, 7, 11999) ORDER BY n"),
              (Rows{"0|" + ss[0] + "|0.000000000000000", "7|" + ss[7] + "|~", "11999|" + ss[11999] + "|2999.750000000000"}));

    // A row that fails takes the whole batch back with it.
    int32_t again[3] = {20000, 5, 20001};
    int lens[3] = {4, 4, 4};
    ASSERT_EQ(VMC_BindParamArrayByName(&c, "n", 1, 1, CT_INT32, 3, again, sizeof again, lens), 0);
    EXPECT_EQ(VMC_ExecuteBatch(&c, "INSERT INTO b (n) VALUES (:n)", 3), RC_ERROR);
    EXPECT_EQ(error_of(c), "[ES019]UNIQUE constraint failed: b.n (batch row 1)");
    EXPECT_EQ(value(c, "SELECT count(*) FROM b WHERE n >= 20000"), "0");

    // A batch of updates answers its count.
    int32_t keys[2] = {1, 2};
    ASSERT_EQ(VMC_BindParamArray(&c, 1, 1, 1, CT_INT32, 2, keys, sizeof keys, lens), 0);
    EXPECT_EQ(VMC_ExecuteBatch(&c, "UPDATE b SET d = -1 WHERE n <= ?", 2), 0) << error_of(c);
    EXPECT_EQ(value(c, "SELECT count(*) FROM b WHERE d = -1"), "3");
  }
}

}  // namespace
}  // namespace standin_test
