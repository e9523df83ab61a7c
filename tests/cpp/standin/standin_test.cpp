// The stand-in server through the client library: logins, statements with
// bound values, result types, cursors, transactions, LOB descriptors, and
// clients that send what no client should.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "client/columns/lob_fetch.h"
#include "client/handles/conn.h"
#include "client/lob/lob.h"
#include "client/values/type_codes.h"
#include "tools/standin/core/command_reader.h"
#include "tests/cpp/support/standin_fixture.h"

namespace standin_test {
namespace {

using Rows = std::vector<std::string>;

Conn* as_conn(VMC_Handle h) { return static_cast<Conn*>(h); }

int bind(VMC_Handle conn, int pos, int ctype, const void* value, int len) {
  return VMC_BindParam(&conn, pos, 1, ctype, const_cast<void*>(value), len, &len);
}
int bind_name(VMC_Handle conn, const char* name, int ctype, const void* value, int len) {
  return VMC_BindParamByName(&conn, name, 1, ctype, const_cast<void*>(value), len, nullptr, &len);
}
int bind_text(VMC_Handle conn, int pos, const std::string& s) {
  return bind(conn, pos, CT_TEXT, s.data(), static_cast<int>(s.size()));
}

int64_t local_ms(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm)) * 1000;
}

TEST_F(StandinTest, LogsInOnBothLinksWithEitherReply) {
  for (char reply : {'N', 'K'}) {
    options.login_reply = reply;
    restart();
    for (const char* link : {"", "USE_SSL=on;"}) {
      SCOPED_TRACE(std::string(1, reply) + " " + link);
      VMC_Handle c = open(link);
      ASSERT_NE(c, nullptr);
      EXPECT_STREQ(as_conn(c)->version, reply == 'N' ? "301" : "201");
      EXPECT_EQ(value(c, "SELECT 40 + 2"), "42");
    }
  }
}

TEST_F(StandinTest, RefusesAWrongUserOrPassword) {
  options.user = "tester";
  options.password = "secret";
  restart();
  EXPECT_NE(open(), nullptr);
  EXPECT_NE(open("USE_SSL=on;"), nullptr);
  for (const char* wrong : {"PWD=nope;", "USER=other;", "USE_SSL=on;PWD=nope;"}) {
    VMC_Handle c = nullptr;
    EXPECT_EQ(VMC_OpenConn((conn_string() + wrong).c_str(), &c), RC_LOGIN_FAILED) << wrong;
    EXPECT_EQ(error_of(c), "[EC012]Error in build-database-connect LOGIN database Failure") << wrong;
    VMC_CloseConn(&c);
  }
}

TEST_F(StandinTest, BindsByPositionAndByNameAndAnswersEachStatementKind) {
  VMC_Handle c = open();
  ASSERT_EQ(exec(c, "CREATE TABLE t (id INTEGER PRIMARY KEY, n INT, big BIGINT, name VARCHAR(20), score DOUBLE)"), 0);

  const int32_t n = -7;
  const int64_t big = 1234567890123LL;
  const double score = 2.5;
  bind(c, 1, CT_INT32, &n, 4);
  bind(c, 2, CT_INT64, &big, 8);
  bind_text(c, 3, "ann");
  bind(c, 4, CT_DOUBLE, &score, 8);
  int rc = 0;
  EXPECT_EQ(value(c, "INSERT INTO t (n, big, name, score) VALUES (?, ?, ?, ?)", &rc), "1");
  EXPECT_EQ(rc, 1);

  const int32_t n2 = 9;
  bind_name(c, "score", CT_DOUBLE, &score, 8);
  bind_name(c, "n", CT_INT32, &n2, 4);
  bind_name(c, "name", CT_TEXT, "bob", 3);
  EXPECT_EQ(value(c, "INSERT INTO t (n, name, score) VALUES (:n, :name, :score)"), "2");
  // A null and a value without its parameter's type.
  bind(c, 1, 0, nullptr, 0);
  bind_text(c, 2, "42");
  EXPECT_EQ(value(c, "INSERT INTO t (name, n) VALUES (?, ?)"), "3");

  EXPECT_EQ(rows(c, "SELECT n, big, name, score FROM t ORDER BY id"),
            (Rows{"-7|1234567890123|ann|2.500000000000000", "9|~|bob|2.500000000000000", "42|~|~|~"}));

  EXPECT_EQ(value(c, "UPDATE t SET n = n + 1 WHERE n > 0", &rc), "2");
  EXPECT_EQ(rc, 2);
  EXPECT_EQ(value(c, "DELETE FROM t WHERE id = 1", &rc), "1");
  EXPECT_EQ(rc, 3);
  EXPECT_EQ(exec(c, "UPDATE t SET n = 0"), 2);

  // Several statements in one text: one reply item each, in order.
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  ASSERT_GE(VMC_ExecuteQuery(&c, "INSERT INTO t (n) VALUES (5); UPDATE t SET n = n + 1; SELECT count(*) FROM t; "
                                 "DELETE FROM t WHERE n = 1",
                             &result, &fields, &count, &affected),
            0);
  std::vector<int> kinds;
  std::vector<int> counts;
  do {
    int kind = 0, nf = 0, nr = 0, na = 0;
    char row_id[25] = {};
    VMC_GetExecInfo(&result, &kind, &nf, &nr, &na, row_id);
    kinds.push_back(kind);
    counts.push_back(kind == SQL_KIND_SELECT ? nr : na);
  } while (VMC_NextResult(&result) == RC_SUCCESS);
  VMC_FreeResult(&result);
  EXPECT_EQ(kinds, (std::vector<int>{SQL_KIND_INSERT, SQL_KIND_UPDATE, SQL_KIND_SELECT, SQL_KIND_DELETE}));
  EXPECT_EQ(counts, (std::vector<int>{1, 3, 1, 2}));
}

TEST_F(StandinTest, ColumnsTakeTheirDeclaredTypesAndExpressionsTheirValues) {
  VMC_Handle c = open();
  ASSERT_EQ(exec(c, "CREATE TABLE ty (s SMALLINT, i INTEGER, b BIGINT, t TINYINT, ok BOOLEAN, f FLOAT, r REAL, "
                    "d DOUBLE, p DECIMAL(10,2), day DATE, tm TIME, at DATETIME, ts TIMESTAMP, ch CHAR(4), "
                    "v VARCHAR(20), tx TEXT, cl CLOB, bl BLOB, bn BINARY(8))"),
            0);
  ASSERT_EQ(exec(c, "INSERT INTO ty VALUES (-3, 70000, 5000000000, 7, 1, 1.5, 2.25, 3.125, 12.50, "
                    "'2026-12-08', '08:25:28', '2026-12-08 08:25:28', '2026-12-08 08:25:28.250', 'abcd', 'vee', "
                    "'text', 'clob', x'0102', x'41')"),
            1);
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT * FROM ty", &result, &fields, &count, &affected), 0);
  ASSERT_EQ(fields, 19);
  const int want[] = {CT_INT16, CT_INT64, CT_INT64, CT_INT8, CT_INT, CT_FLOAT, CT_DOUBLE, CT_DOUBLE, CT_NUMERIC,
                      CT_DATE, CT_TIME, CT_DATETIME, CT_DATETIME, CT_TEXT, CT_TEXT, CT_TEXT, CT_CLOB, CT_BINARY,
                      CT_BINARY};
  for (int col = 1; col <= fields; ++col) {
    int ctype = 0;
    VMC_GetColType(&result, col, &ctype);
    EXPECT_EQ(ctype, want[col - 1]) << "column " << col;
  }
  int len = 0;
  VMC_GetColLen(&result, 15, &len);
  EXPECT_EQ(len, 20);
  ASSERT_EQ(VMC_Fetch(&result), RC_SUCCESS);
  // Datetimes are the instant of their local-time text.
  int64_t ms = 0;
  EXPECT_EQ(VMC_GetData(&result, 12, CT_DATETIME_MS, &ms, 8, &len), 0);
  EXPECT_EQ(ms, local_ms(2026, 12, 8, 8, 25, 28));
  EXPECT_EQ(VMC_GetData(&result, 13, CT_DATETIME_MS, &ms, 8, &len), 0);
  EXPECT_EQ(ms, local_ms(2026, 12, 8, 8, 25, 28) + 250);
  VMC_FreeResult(&result);

  EXPECT_EQ(rows(c, "SELECT s, i, b, t, ok, f, r, d, p, day, tm, ch, v, tx, cl, bn FROM ty"),
            (Rows{"-3|70000|5000000000|7|T|1.500000|2.250000000000000|3.125000000000000|12.5|2026-12-08|08:25:28|"
                  "abcd|vee|text|clob|A"}));

  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT 1, 1.5, 'x', x'01', NULL, count(*) FROM ty", &result, &fields, &count,
                             &affected),
            0);
  const int expr[] = {CT_INT64, CT_DOUBLE, CT_TEXT, CT_BINARY, CT_TEXT, CT_INT64};
  for (int col = 1; col <= 6; ++col) {
    int ctype = 0;
    VMC_GetColType(&result, col, &ctype);
    EXPECT_EQ(ctype, expr[col - 1]) << "expression " << col;
  }
  VMC_FreeResult(&result);
}

TEST_F(StandinTest, ValuesArriveWholeOrTheStatementAnswersAnError) {
  // SQLite keeps any value in any column; what does not fit the wire type of
  // its column must be refused, never cut to the type's width: by the
  // statement that stores it when the column declares its type, else by the
  // result that meets it.
  struct Case {
    const char* declared;
    std::vector<const char*> values;  // SQL literals, one row each
    Rows want;                        // the rows read back
    const char* error;                // the error of the last INSERT (declared) or of the SELECT
  } cases[] = {
      {"INTEGER", {"1099511627776", "9223372036854775807", "-9223372036854775808"},
       {"1099511627776", "9223372036854775807", "-9223372036854775808"}, nullptr},
      {"INT", {"-2147483648", "2.0"}, {"-2147483648", "2"}, nullptr},
      {"INT", {"1", "3000000000"}, {"1"}, "[ES910]row 1, column v: 3000000000 does not fit a 32-bit integer"},
      {"INT", {"1.5"}, {}, "[ES910]row 1, column v: 1.5 does not fit a 32-bit integer"},
      {"TINYINT", {"-128", "300"}, {"-128"}, "[ES910]row 1, column v: 300 does not fit an 8-bit integer"},
      {"SMALLINT", {"70000"}, {}, "[ES910]row 1, column v: 70000 does not fit a 16-bit integer"},
      {"FLOAT", {"1e300"}, {}, "[ES910]row 1, column v: 1.0e+300 does not fit a 32-bit float"},
      // Without a declared type the first row decides.
      {"", {"1", "'hello'"}, {}, "[ES910]row 2, column v: 'hello' does not fit a 64-bit integer"},
      {"", {"1", "1.5"}, {}, "[ES910]row 2, column v: 1.5 does not fit a 64-bit integer"},
      {"", {"'a'", "5", "x'41'"}, {"a", "5", "A"}, nullptr},
      {"DATE", {"'9999-12-31'", "'10000-01-01'"}, {"9999-12-31"},
       "[ES910]row 1, column v: '10000-01-01' does not fit a date"},
      {"TIME", {"'25:00:00'"}, {}, "[ES910]row 1, column v: '25:00:00' does not fit a time of day"},
      {"TIME", {"86400000"}, {}, "[ES910]row 1, column v: 86400000 does not fit a time of day"},
      {"DATETIME", {"'0999-01-01 00:00:00'", "'999-01-01 00:00:00'"}, {"0999-01-01 00:00:00"},
       "[ES910]row 1, column v: '999-01-01 00:00:00' does not fit a date and time"},
  };
  VMC_Handle c = open();
  for (const Case& k : cases) {
    std::string trace = std::string(k.declared) + ":";
    for (const char* v : k.values) trace += std::string(" ") + v;
    SCOPED_TRACE(trace);
    const bool declared = *k.declared != 0;
    const char* send_error = declared ? nullptr : k.error;
    ASSERT_EQ(exec(c, "DROP TABLE IF EXISTS v"), 0);
    ASSERT_EQ(exec(c, std::string("CREATE TABLE v (v ") + k.declared + ")"), 0);
    for (size_t i = 0; i < k.values.size(); ++i) {
      const bool refused = declared && k.error && i + 1 == k.values.size();
      ASSERT_EQ(exec(c, std::string("INSERT INTO v VALUES (") + k.values[i] + ")"), refused ? RC_ERROR : 1);
      if (refused) {
        EXPECT_EQ(error_of(c), k.error);
      }
    }
    // Through a cursor, and directly: the whole result or the error alone.
    int rc = 0;
    EXPECT_EQ(rows(c, "SELECT v FROM v ORDER BY rowid", &rc), k.want);
    if (send_error) {
      EXPECT_EQ(rc, RC_ERROR);
      EXPECT_EQ(error_of(c), send_error);
    }
    const std::string first = value(c, "SELECT v FROM v ORDER BY rowid", &rc);
    if (send_error) {
      EXPECT_EQ(rc, RC_ERROR);
    }
    EXPECT_EQ(first, k.want.empty() ? "" : k.want.front());
    EXPECT_EQ(error_of(c), send_error ? send_error : error_of(c));
  }
  // A 64-bit value read as one, not through its text.
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0, got = 0;
  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT CAST(9007199254740993 AS INTEGER)", &result, &fields, &count, &affected), 0);
  ASSERT_EQ(VMC_Fetch(&result), RC_SUCCESS);
  int len = 0;
  EXPECT_EQ(VMC_GetData(&result, 1, CT_INT64, &got, 8, &len), 0);
  EXPECT_EQ(got, 9007199254740993);
  VMC_FreeResult(&result);
  // An empty blob goes out as no bytes, which read as NULL.
  ASSERT_EQ(exec(c, "CREATE TABLE eb (v BLOB)"), 0);
  ASSERT_EQ(exec(c, "INSERT INTO eb VALUES (x'')"), 1);
  EXPECT_EQ(rows(c, "SELECT v FROM eb"), std::vector<std::string>{"~"});
  EXPECT_EQ(value(c, "SELECT 'in step'"), "in step");
}

TEST_F(StandinTest, AValueItsColumnCouldNotSendIsRefusedByEveryStatementThatStoresIt) {
  // Rows are counted among those the statement (or batch) writes; the
  // statement that meets such a value is undone whole, and nothing else.
  VMC_Handle c = open("AUTO_COMMIT=off;");
  ASSERT_EQ(exec(c, "CREATE TABLE st (k TINYINT, at DATETIME)"), 0);
  ASSERT_EQ(exec(c, "INSERT INTO st VALUES (1, '2024-01-01 00:00:00')"), 1);
  const std::string late = ", column at: '999-01-01 00:00:00' does not fit a date and time";
  EXPECT_EQ(exec(c, "INSERT INTO st VALUES (2, '2024-01-02'), (3, '999-01-01 00:00:00')"), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES910]row 2" + late);
  EXPECT_EQ(exec(c, "UPDATE st SET at = '999-01-01 00:00:00'"), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES910]row 1" + late);
  ASSERT_EQ(VMC_Prepare(&c, "INSERT INTO st VALUES (5, ?)"), 0);
  bind_text(c, 1, "999-01-01 00:00:00");
  EXPECT_EQ(VMC_Execute(&c, nullptr), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES910]row 1" + late);
  int32_t ks[3] = {6, 300, 7};
  int lens[3] = {4, 4, 4};
  ASSERT_EQ(VMC_BindParamArray(&c, 1, 1, 1, CT_INT32, 3, ks, sizeof ks, lens), 0);
  EXPECT_EQ(VMC_ExecuteBatch(&c, "INSERT INTO st (k) VALUES (?)", 3), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES910]row 2, column k: 300 does not fit an 8-bit integer");
  // A datetime bound as milliseconds is kept as a text that goes back.
  const int64_t year_999 = -30641760000000;
  bind(c, 1, CT_DATETIME_MS, &year_999, 8);
  EXPECT_EQ(exec(c, "INSERT INTO st VALUES (8, ?)"), 1);
  EXPECT_EQ(exec(c, "COMMIT;"), 0);
  EXPECT_EQ(rows(c, "SELECT k, at FROM st ORDER BY k"), (Rows{"1|2024-01-01 00:00:00", "8|0999-01-01 00:00:00"}));
}

TEST_F(StandinTest, ScriptDatesReadBackAsTheSameInstant) {
  VMC_Handle c = open();
  ASSERT_EQ(exec(c, "CREATE TABLE ev (at DATETIME, day DATE)"), 0);
  // A script binds a Date as its local "%Y-%m-%d %H:%M:%S" text; a caller
  // may bind milliseconds instead.
  bind_text(c, 1, "2024-02-29 23:59:58");
  bind_text(c, 2, "2024-02-29 23:59:58");
  ASSERT_EQ(exec(c, "INSERT INTO ev VALUES (?, ?)"), 1);
  const int64_t ms = local_ms(2001, 9, 9, 1, 46, 40) + 123;
  bind(c, 1, CT_DATETIME_MS, &ms, 8);
  ASSERT_EQ(exec(c, "INSERT INTO ev (at) VALUES (?)"), 1);

  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT at, day FROM ev ORDER BY rowid", &result, &fields, &count, &affected), 0);
  int64_t got = 0;
  int len = 0;
  ASSERT_EQ(VMC_Fetch(&result), RC_SUCCESS);
  EXPECT_EQ(VMC_GetData(&result, 1, CT_DATETIME_MS, &got, 8, &len), 0);
  EXPECT_EQ(got, local_ms(2024, 2, 29, 23, 59, 58));
  char day[16] = {};
  EXPECT_EQ(VMC_GetData(&result, 2, CT_TEXT, day, sizeof day, &len), 0);
  EXPECT_STREQ(day, "2024-02-29");
  ASSERT_EQ(VMC_Fetch(&result), RC_SUCCESS);
  EXPECT_EQ(VMC_GetData(&result, 1, CT_DATETIME_MS, &got, 8, &len), 0);
  EXPECT_EQ(got, ms);
  VMC_FreeResult(&result);
}

TEST_F(StandinTest, ErrorsComeInTheBracketedShapeAndTheLinkStaysInStep) {
  VMC_Handle c = open();
  EXPECT_EQ(exec(c, "SELECT * FROM nowhere"), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES001]no such table: nowhere");
  int rc = 0;
  EXPECT_TRUE(rows(c, "SELECT * FROM nowhere", &rc).empty());
  EXPECT_EQ(rc, RC_ERROR);
  ASSERT_EQ(exec(c, "CREATE TABLE u (k INT PRIMARY KEY)"), 0);
  ASSERT_EQ(exec(c, "INSERT INTO u VALUES (1)"), 1);
  EXPECT_EQ(exec(c, "INSERT INTO u VALUES (2); INSERT INTO u VALUES (1); INSERT INTO u VALUES (3)"), RC_ERROR);
  EXPECT_EQ(error_of(c), "[ES019]UNIQUE constraint failed: u.k");
  // The statements before the failing one ran, the ones after did not.
  EXPECT_EQ(rows(c, "SELECT k FROM u ORDER BY k"), (Rows{"1", "2"}));
  // A failure after rows went out: the rows arrive, and the link stays usable.
  EXPECT_EQ(rows(c, "SELECT CASE WHEN k < 2 THEN k ELSE abs(k - 3 - 9223372036854775807) END FROM u ORDER BY k"),
            (Rows{"1"}));
  EXPECT_EQ(value(c, "SELECT 'still here'"), "still here");
}

TEST_F(StandinTest, CursorsServeBlocksAndRunSideBySide) {
  VMC_Handle c = open();
  ASSERT_EQ(exec(c, "CREATE TABLE big (x INT)"), 0);
  ASSERT_EQ(exec(c, "INSERT INTO big WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < 45001) "
                    "SELECT x FROM s"),
            1);
  const Rows all = rows(c, "SELECT x FROM big ORDER BY x");
  ASSERT_EQ(all.size(), 45001u);
  EXPECT_EQ(all.front(), "1");
  EXPECT_EQ(all.back(), "45001");
  // A first-value reader sends '.' after its first 200 rows; the server has
  // sent them all already and takes the '.' for nothing.
  EXPECT_EQ(value(c, "SELECT x FROM big ORDER BY x"), "1");
  EXPECT_EQ(value(c, "SELECT 8"), "8");

  // Two cursors of one connection walked in turns, with a statement between.
  VMC_Handle a = nullptr, b = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT x FROM big WHERE x <= 30000 ORDER BY x", &a, &fields, &count, &affected), 0);
  ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT x FROM big ORDER BY x DESC", &b, &fields, &count, &affected), 0);
  int64_t sum_a = 0, sum_b = 0, n_a = 0, n_b = 0;
  bool more_a = true, more_b = true;
  while (more_a || more_b) {
    for (int i = 0; i < 7000 && more_a; ++i) {
      more_a = VMC_Fetch(&a) == RC_SUCCESS;
      int64_t v = 0;
      int len = 0;
      if (more_a && VMC_GetData(&a, 1, CT_INT64, &v, 8, &len) == 0) sum_a += v, ++n_a;
    }
    EXPECT_EQ(value(c, "SELECT 7"), "7");
    for (int i = 0; i < 9000 && more_b; ++i) {
      more_b = VMC_Fetch(&b) == RC_SUCCESS;
      int64_t v = 0;
      int len = 0;
      if (more_b && VMC_GetData(&b, 1, CT_INT64, &v, 8, &len) == 0) sum_b += v, ++n_b;
    }
  }
  VMC_FreeResult(&a);
  VMC_FreeResult(&b);
  EXPECT_EQ(n_a, 30000);
  EXPECT_EQ(sum_a, 30000LL * 30001 / 2);
  EXPECT_EQ(n_b, 45001);
  EXPECT_EQ(sum_b, 45001LL * 45002 / 2);
}

TEST_F(StandinTest, CursorsReadAheadAnswerAsIfReadWhenAsked) {
  // The server steps a cursor's next block while the client reads the last
  // one. A pause before each command lets it do so; the answers are the same
  // whether it did or not.
  VMC_Handle c = open();
  const auto settle = [] { usleep(20000); };
  const auto declare = [&](const std::string& sql) {
    ResultSet* head = nullptr;
    ASSERT_EQ(VMC_DeclareCursor(&c, sql.c_str(), "K", &head, nullptr), RC_SUCCESS) << error_of(c);
    VMC_Handle h = head;
    VMC_FreeResult(&h);
  };
  const auto fetch = [&](int n) {
    settle();
    ResultSet* block = nullptr;
    int64_t count = 0;
    VMC_FetchCursor(&c, "K", &block, nullptr, &count, &n);
    VMC_Handle h = block;
    const Rows got = h ? fetch_all(&h) : Rows{};
    VMC_FreeResult(&h);
    return got;
  };
  const auto close = [&] {
    settle();
    ASSERT_EQ(VMC_CloseCursor(&c, "K"), RC_SUCCESS);
  };
  const auto span = [](int from, int to, const std::string& tag) {
    Rows out;
    for (int x = from; x <= to; ++x) out.push_back(std::to_string(x) + tag);
    return out;
  };
  const std::string numbers = "WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < 3500) ";
  ASSERT_EQ(exec(c, "CREATE TABLE w (x INT, tag VARCHAR(4))"), 0);
  ASSERT_EQ(exec(c, "INSERT INTO w " + numbers + "SELECT x, 'a' FROM s"), 1);
  ASSERT_EQ(exec(c, "CREATE TABLE other (n INT)"), 0);

  // Writes between blocks: to another table, to rows sent already, and to rows
  // past the block that may be kept; then blocks of other counts.
  declare("SELECT x, tag FROM w");
  EXPECT_EQ(fetch(1000), span(1, 1000, "|a"));
  settle();
  ASSERT_EQ(exec(c, "INSERT INTO other VALUES (1)"), 1);
  ASSERT_EQ(exec(c, "UPDATE w SET tag = 'b' WHERE x > 2000"), 1500);
  ASSERT_EQ(exec(c, "DELETE FROM w WHERE x <= 1000"), 1000);
  EXPECT_EQ(fetch(1000), span(1001, 2000, "|a"));
  EXPECT_EQ(fetch(600), span(2001, 2600, "|b"));
  EXPECT_EQ(fetch(2000), span(2601, 3500, "|b"));
  EXPECT_EQ(fetch(1000), Rows{});
  close();

  // A value that does not fit, inside the block that may be kept and just
  // past it: the block that reaches it answers the error alone, as does
  // every block after.
  for (int bad : {1500, 2001}) {
    SCOPED_TRACE(bad);
    // A column without a declared type takes its first value's.
    ASSERT_EQ(exec(c, "DROP TABLE IF EXISTS m; CREATE TABLE m (v)"), 0);
    ASSERT_EQ(exec(c, "INSERT INTO m " + numbers + "SELECT CASE x WHEN " + std::to_string(bad) +
                          " THEN 'x' ELSE x END FROM s"),
              1);
    const std::string error = "[ES910]row " + std::to_string(bad) + ", column v: 'x' does not fit a 64-bit integer";
    declare("SELECT v FROM m");
    EXPECT_EQ(fetch(1000), span(1, 1000, ""));
    EXPECT_EQ(fetch(1000), bad > 2000 ? span(1001, 2000, "") : Rows{});
    if (bad < 2000) {
      EXPECT_EQ(error_of(c), error);
    }
    EXPECT_EQ(fetch(1000), Rows{});
    EXPECT_EQ(error_of(c), error);
    close();
  }

  // Closed with a block kept: the cursor declared again under its name
  // answers its own rows.
  declare("SELECT x, tag FROM w");
  EXPECT_EQ(fetch(100), span(1001, 1100, "|a"));
  close();
  declare("SELECT n, 'z' FROM other");
  EXPECT_EQ(fetch(100), (Rows{"1|z"}));
  close();
  EXPECT_EQ(value(c, "SELECT count(*) FROM w"), "2500");
}

TEST_F(StandinTest, TransactionsStayApartUntilCommitted) {
  VMC_Handle a = open();
  VMC_Handle b = open();
  ASSERT_EQ(exec(a, "CREATE TABLE acct (n INT)"), 0);
  EXPECT_EQ(value(a, "SHOW AUTO_COMMIT;"), "T");
  EXPECT_EQ(exec(a, "SET AUTO_COMMIT OFF;"), 0);
  EXPECT_EQ(value(a, "SHOW AUTO_COMMIT;"), "F");

  ASSERT_EQ(exec(a, "INSERT INTO acct VALUES (1)"), 1);
  EXPECT_EQ(rows(a, "SELECT n FROM acct"), (Rows{"1"}));
  EXPECT_EQ(rows(b, "SELECT n FROM acct"), Rows{});
  EXPECT_EQ(exec(a, "ROLLBACK;"), 0);
  EXPECT_EQ(rows(a, "SELECT n FROM acct"), Rows{});

  ASSERT_EQ(exec(a, "INSERT INTO acct VALUES (2)"), 1);
  EXPECT_EQ(rows(b, "SELECT n FROM acct"), Rows{});
  EXPECT_EQ(exec(a, "COMMIT;"), 0);
  EXPECT_EQ(rows(b, "SELECT n FROM acct"), (Rows{"2"}));
  EXPECT_EQ(exec(a, "COMMIT;"), 0);  // nothing open: nothing to do

  // A login without auto-commit starts in manual mode; switching it on commits.
  VMC_Handle m = open("AUTO_COMMIT=off;");
  EXPECT_EQ(value(m, "SHOW AUTO_COMMIT;"), "F");
  ASSERT_EQ(exec(m, "INSERT INTO acct VALUES (3)"), 1);
  EXPECT_EQ(rows(b, "SELECT n FROM acct ORDER BY n"), (Rows{"2"}));
  EXPECT_EQ(exec(m, "SET AUTO_COMMIT ON;"), 0);
  EXPECT_EQ(rows(b, "SELECT n FROM acct ORDER BY n"), (Rows{"2", "3"}));
}

TEST_F(StandinTest, VersionAttributeAsksTheServer) {
  VMC_Handle c = open();
  char text[64] = {};
  int type = 0, len = 0;
  ASSERT_GE(VMC_GetAttr(&c, 1, text, sizeof text, &type, &len), 0);
  EXPECT_EQ(std::string(text, len).rfind("standin ", 0), 0u) << text;
}

TEST_F(StandinTest, CharacterLobsComeByDescriptorWhenAskedFor) {
  const std::string big(3 * 1048576 + 11, 'q');
  for (const char* more : {"LOB_RET=1;", "", "LOB_RET=1;USE_SSL=on;"}) {
    SCOPED_TRACE(more);
    VMC_Handle c = open(more);
    ASSERT_EQ(exec(c, "CREATE TABLE IF NOT EXISTS doc (body CLOB)"), 0);
    ASSERT_GE(exec(c, "DELETE FROM doc"), 0);
    bind_text(c, 1, big);
    ASSERT_EQ(exec(c, "INSERT INTO doc VALUES (?)"), 1);
    ASSERT_EQ(exec(c, "INSERT INTO doc VALUES ('small')"), 1);

    VMC_Handle result = nullptr;
    int fields = 0, affected = 0;
    int64_t count = 0;
    ASSERT_GE(VMC_ExecuteQuery(&c, "SELECT body FROM doc ORDER BY rowid", &result, &fields, &count, &affected), 0);
    for (const std::string* want : {&big, static_cast<const std::string*>(nullptr)}) {
      const std::string small = "small";
      if (!want) want = &small;
      ASSERT_EQ(VMC_Fetch(&result), RC_SUCCESS);
      VMC_Handle lob = nullptr;
      VMC_CreateLob(&lob);
      int len = 0;
      EXPECT_EQ(VMC_GetData(&result, 1, CT_CLOB, &lob, 8, &len), 0);
      ASSERT_EQ(len, static_cast<int>(want->size()));
      std::string got(want->size(), '\0');
      EXPECT_EQ(VMC_GetLobData(&lob, got.data(), static_cast<uint32_t>(got.size())), len);
      EXPECT_TRUE(got == *want);
      VMC_FreeLob(&lob);
    }
    VMC_FreeResult(&result);

    // A descriptor the server does not know brings nothing, and the link stays in step.
    auto* unknown = static_cast<LobObject*>(nullptr);
    VMC_Handle h = nullptr;
    VMC_CreateLob(&h);
    unknown = static_cast<LobObject*>(h);
    unknown->descriptor = strdup("C999999999999:10");
    EXPECT_EQ(fetch_lob(as_conn(c), unknown), 0);
    EXPECT_EQ(unknown->lob_size, 0);
    VMC_FreeLob(&h);
    EXPECT_EQ(value(c, "SELECT 'in step'"), "in step");
  }
}

// Clients that send what no client should: each is dropped, and the server
// goes on serving everyone else.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RawClient() { close(fd_); }
  void put(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  std::string take(size_t n) {
    std::string got(n, '\0');
    size_t done = 0;
    ssize_t r;
    while (done < n && (r = recv(fd_, got.data() + done, n - done, 0)) > 0) done += static_cast<size_t>(r);
    got.resize(done);
    return got;
  }
  // Whether the server closes the link (a reset when it left bytes unread).
  bool closed_by_server() {
    char buf[256];
    ssize_t n;
    while ((n = recv(fd_, buf, sizeof buf, 0)) > 0) {
    }
    return n == 0 || errno == ECONNRESET;
  }
  void half_close() { shutdown(fd_, SHUT_WR); }

 private:
  int fd_ = -1;
};

TEST_F(StandinTest, DropsClientsThatSendGarbageAndServesTheNext) {
  struct Case {
    const char* what;
    bool log_in;        // send a good login first and take its answer
    std::string bytes;  // then these
    bool go_away;       // and then stop sending
  } cases[] = {
      {"no login", false, "GET / HTTP/1.0\r\n\r\n", false},
      {"an encrypted login that breaks off", false, "~ssl~", true},
      {"an unknown command letter", true, "Z", false},
      {"an impossible text length", true, std::string("?\xff\xff\xff\xff", 5), false},
      {"a frame that breaks off", true, std::string("?\0\0\0\x10SELE", 9), true},
      {"a parameter record that breaks off", true, std::string("?\0\0\0\x08SELECT ?\0\0\0\0\x01\0\0", 20), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    RawClient raw(port());
    if (k.log_in) {
      raw.put("login database = main user='x' password='y' version = '301'");
      EXPECT_EQ(raw.take(6).size(), 6u);
    }
    raw.put(k.bytes);
    if (k.go_away) raw.half_close();
    EXPECT_TRUE(raw.closed_by_server());
    VMC_Handle c = open();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(value(c, "SELECT 'served'"), "served");
  }
}

// A '?' frame of a statement text without parameters.
std::string statement_frame(const std::string& text) {
  const uint32_t n = static_cast<uint32_t>(text.size());
  const char len[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n)};
  return "?" + std::string(len, 4) + text + std::string(5, '\0');
}

TEST_F(StandinTest, AnswersAZeroByteInAStatementWithAnErrorAndStillStops) {
  RawClient raw(port());
  raw.put("login database = main user='x' password='y' version = '301'");
  ASSERT_EQ(raw.take(6).size(), 6u);
  const std::string error = "[ES909]a statement text holds a zero byte";
  for (const std::string& text : {std::string("SELECT 1\0 SELECT 2", 19), std::string("\0SELECT 1", 9)}) {
    raw.put(statement_frame(text));
    EXPECT_EQ(raw.take(1 + 4 + error.size() + 1), "E" + std::string("\0\0\0\x29", 4) + error + "K");
  }
  raw.put(statement_frame("SELECT 7 AS n"));
  EXPECT_EQ(raw.take(1 + 4 + 5 + 12 + 1 + 4 + 8 + 1),
            std::string("A\0\0\0\x01\0\0\0\x01n\0\0\0\x06\0\0\0\x08\0\0\0\0R\0\0\0\x08\0\0\0\0\0\0\0\x07K", 36));
  // What a stop signal does: every connection's thread ends.
  restart();
}

TEST_F(StandinTest, TakesAStatementTextUpToItsBound) {
  VMC_Handle c = open();
  const std::string head = "SELECT 1 AS n --";
  EXPECT_EQ(value(c, head + std::string(standin::kMaxStatementText - head.size(), '-')), "1");
  int rc = 0;
  value(c, head + std::string(standin::kMaxStatementText + 1 - head.size(), '-'), &rc);
  EXPECT_EQ(rc, RC_READ_FAILED);
  EXPECT_EQ(value(open(), "SELECT 'served'"), "served");
}

TEST_F(StandinTest, TurnsAwayConnectionsPastItsBound) {
  FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  options.log = log;
  options.max_connections = 2;
  restart();
  VMC_Handle a = open();
  VMC_Handle b = open();
  VMC_Handle c = nullptr;
  EXPECT_LT(VMC_OpenConn(conn_string().c_str(), &c), 0);
  VMC_CloseConn(&c);
  EXPECT_EQ(value(a, "SELECT 'a'"), "a");
  EXPECT_EQ(value(b, "SELECT 'b'"), "b");
  std::rewind(log);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
  EXPECT_STREQ(line, "standin: 2 connections are open, the most --max-connections allows: a new one is closed\n");
  options.log = nullptr;
  restart();
  std::fclose(log);
}

}  // namespace
}  // namespace standin_test
