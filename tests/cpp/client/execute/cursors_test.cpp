#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "client/handles/conn.h"
#include "client/params/param_set.h"
#include "client/results/result_set.h"
#include "client/results/smart_result.h"
#include "client/vmc.h"
#include "client/vmc_internal.h"
#include "link/wire_io.h"
#include "platform/net.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"
#include "tools/standin/core/command_reader.h"

using testpeer::PeerConn;
using testpeer::ScriptedPeer;

namespace {

// A server that answers the cursor texts over a table of `total` rows of one
// int column, 1, 2, 3, ..., and logs every command it is sent.
class CursorServer {
 public:
  int total = 0;
  bool refuse_close = false;
  bool fail_fetch = false;
  bool two_results_per_fetch = false;  // each FETCH reply carries one more 1-row result
  int hang_up_at_fetch = 0;            // the FETCH (counted from 1) answered by closing the link
  int refuse_at_fetch = 0;             // the FETCH (counted from 1) answered by an error
  bool hang_up_in_open_refusal = false;  // OPEN answered by 'E' and a closed link
  bool lob_descriptors = false;          // the column is a CLOB whose values are descriptors
  int stray_at_fetch = 0;                // the FETCH (counted from 1) whose reply carries stray_letter:
  bool stray_before_end = false;         // before its 'K' (else behind it)
  int error_after_row = 0;               // the rows end at an error after this row (0: none)
  static constexpr char stray_letter = 'Z';  // no letter of the grammar

  CursorServer() {
    peer_ = std::make_unique<ScriptedPeer>([this](ScriptedPeer::Listener& l) {
      auto conn = l.accept();
      if (!conn) return;
      conn->login_ok();
      standin::Command cmd;
      std::vector<standin::ParamRecord> values;
      while (standin::read_command(conn->link(), &cmd)) {
        if (!standin::read_param_records(conn->link(), cmd.param_count, &values)) break;
        {
          std::lock_guard<std::mutex> g(m_);
          log_.push_back(cmd.text);
          for (const auto& v : values) params_.push_back(v);
        }
        if (!answer(*conn, cmd.text)) break;
      }
    });
  }
  ~CursorServer() { peer_->join(); }

  uint16_t port() const { return peer_->port(); }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> g(m_);
    return log_;
  }
  std::vector<standin::ParamRecord> params() {
    std::lock_guard<std::mutex> g(m_);
    return params_;
  }
  size_t count_starting(const std::string& head) {
    size_t n = 0;
    for (const auto& t : log())
      if (t.rfind(head, 0) == 0) ++n;
    return n;
  }

 private:
  ReplyBytes rows_item(int first, int n) const {
    ReplyBytes r;
    if (lob_descriptors) {
      r.letter('A').u32(1).field("t.doc", 32, 100);
      for (int i = 0; i < n; ++i) r.letter('R').text("C00000000000" + std::to_string(i % 10));
      return r;
    }
    r.letter('A').u32(1).field("t.n", 5, 4);
    for (int i = 0; i < n; ++i) {
      r.letter('R').u32(4).u32(static_cast<uint32_t>(first + i));
      if (first + i == error_after_row) return r.letter('E').text("integer overflow");
    }
    return r;
  }
  static void send(PeerConn& p, const ReplyBytes& r) {
    send_bytes(p.link(), r.bytes.data(), static_cast<uint32_t>(r.bytes.size()));
    send_flush(p.link());
  }

  // False when the server hangs up instead of answering.
  bool answer(PeerConn& p, const std::string& text) {
    if (text.rfind("FETCH ", 0) == 0) {
      if (++fetches_ == hang_up_at_fetch) return false;
      if (fail_fetch || fetches_ == refuse_at_fetch) {
        send(p, ReplyBytes().letter('E').text("fetch went wrong").letter('K'));
        return true;
      }
      // "FETCH 20000 FROM c ;", "FETCH 10  FROM c ", "FETCH  20000  FROM  c "
      const int asked = std::atoi(text.c_str() + text.find_first_of("0123456789"));
      int n = std::min(asked, total - served_);
      ReplyBytes r = rows_item(served_ + 1, n);
      served_ += n;
      if (two_results_per_fetch) {
        ReplyBytes extra = rows_item(-1, 1);
        r.bytes.insert(r.bytes.end(), extra.bytes.begin(), extra.bytes.end());
      }
      if (fetches_ == stray_at_fetch && stray_before_end) r.letter(stray_letter);
      r.letter('K');
      if (fetches_ == stray_at_fetch && !stray_before_end) r.letter(stray_letter);
      send(p, r);
    } else if (text.rfind("OPEN ", 0) == 0 && hang_up_in_open_refusal) {
      send(p, ReplyBytes().letter('E'));
      return false;
    } else if (text.rfind("CLOSE ", 0) == 0 && refuse_close) {
      send(p, ReplyBytes().letter('E').text("cannot close").letter('K'));
    } else if (text.rfind("select 1; select 2", 0) == 0) {
      ReplyBytes r = rows_item(1, 1);
      ReplyBytes second = rows_item(2, 1);
      r.bytes.insert(r.bytes.end(), second.bytes.begin(), second.bytes.end());
      send(p, r.letter('K'));
    } else if (text.rfind("DELETE", 0) == 0) {
      send(p, ReplyBytes().letter('D').u32(3).letter('K'));
    } else if (text.rfind("select", 0) == 0 || text.rfind("SELECT", 0) == 0) {
      send(p, rows_item(1, total).letter('K'));  // a SELECT sent as itself: every row at once
    } else {
      send(p, ReplyBytes().letter('K'));  // DECLARE, OPEN, CLOSE
    }
    return true;
  }

  std::unique_ptr<ScriptedPeer> peer_;
  std::mutex m_;
  std::vector<std::string> log_;
  std::vector<standin::ParamRecord> params_;
  int served_ = 0;
  int fetches_ = 0;
};

struct Client {
  VMC_Handle conn = nullptr;
  explicit Client(uint16_t port, const std::string& extra = "") {
    std::string cs = "IP=127.0.0.1;PORT=" + std::to_string(port) + ";DB=d;USER=u;PWD=p" + extra;
    EXPECT_EQ(VMC_OpenConn(cs.c_str(), &conn), 2);
  }
  ~Client() { VMC_CloseConn(&conn); }
  Conn* record() const { return static_cast<Conn*>(conn); }
};

int value_of(VMC_Handle* result) {
  int v = 0;
  int len = 0;
  EXPECT_EQ(VMC_GetData(result, 1, 5, &v, sizeof v, &len), 0);
  return v;
}

}  // namespace

TEST(ServerCursor, ShortResultClosesInsideTheQuery) {
  CursorServer server;
  server.total = 7;
  {
    Client c(server.port());
    VMC_Handle result = nullptr;
    int fields = -1, affected = -1;
    int64_t rows = -1;
    EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, &fields, &rows, &affected), 7);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(*static_cast<uint32_t*>(result), 6u);
    EXPECT_EQ(fields, 1);
    EXPECT_EQ(rows, 7);
    EXPECT_EQ(server.log(), (std::vector<std::string>{"DECLARE STC0_SMARTCUR CURSOR FOR select n from t;",
                                                      "OPEN STC0_SMARTCUR ;", "FETCH 20000 FROM STC0_SMARTCUR ;",
                                                      "CLOSE STC0_SMARTCUR "}));
    for (int i = 1; i <= 7; ++i) {
      ASSERT_EQ(VMC_Fetch(&result), 0);
      EXPECT_EQ(value_of(&result), i);
    }
    EXPECT_EQ(VMC_Fetch(&result), 100);
    EXPECT_EQ(VMC_Fetch(&result), 100);
    // A closed cursor is released without a word to the server.
    EXPECT_EQ(VMC_FreeResult(&result), 0);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(server.log().size(), 4u);
  }
}

TEST(ServerCursor, ExactlyOneFullBlockNeedsAnEmptyFetchToClose) {
  CursorServer server;
  server.total = 20000;
  Client c(server.port());
  VMC_Handle result = nullptr;
  int64_t rows = 0;
  EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "SELECT n FROM t", &result, nullptr, &rows, nullptr), 0);
  EXPECT_EQ(rows, 20000);
  auto* smart = static_cast<SmartResult*>(result);
  EXPECT_EQ(smart->cursor_open, 1);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(VMC_Fetch(&result), 0);
  EXPECT_EQ(server.count_starting("FETCH"), 1u);
  EXPECT_EQ(VMC_Fetch(&result), 100);
  EXPECT_EQ(server.count_starting("FETCH"), 2u);
  EXPECT_EQ(server.count_starting("CLOSE STC0_SMARTCUR "), 1u);
  EXPECT_EQ(smart->cursor_open, 0);
  EXPECT_EQ(smart->cursor_name[0], 0);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
}

TEST(ServerCursor, BlocksAreFetchedWhenTheLastRowIsUsed) {
  CursorServer server;
  server.total = 2 * 20000 + 5000;
  Client c(server.port());
  VMC_Handle result = nullptr;
  EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
  int seen = 0;
  for (int block = 0; block < 3; ++block) {
    const int in_block = block < 2 ? 20000 : 5000;
    for (int i = 0; i < in_block; ++i) {
      ASSERT_EQ(VMC_Fetch(&result), 0);
      ++seen;
      // A new block is asked for only when the row after a full block is wanted.
      ASSERT_EQ(server.count_starting("FETCH"), static_cast<size_t>(block + 1)) << "row " << seen;
    }
    if (block == 2) {
      EXPECT_EQ(server.count_starting("CLOSE"), 1u);
    }
  }
  EXPECT_EQ(value_of(&result), 45000);
  EXPECT_EQ(VMC_Fetch(&result), 100);
  EXPECT_EQ(server.count_starting("FETCH"), 3u);
  EXPECT_EQ(server.log().back(), "CLOSE STC0_SMARTCUR ");
  EXPECT_EQ(VMC_FreeResult(&result), 0);
}

TEST(ServerCursor, NamesCountUpAndParametersGoWithTheQuery) {
  CursorServer server;
  server.total = 3;
  Client c(server.port());
  VMC_Handle a = nullptr, b = nullptr;
  int v = 5, len = 4;
  ASSERT_EQ(VMC_BindParam(&c.conn, 1, 1, 5, &v, 4, &len), 0);
  ASSERT_NE(c.record()->params, nullptr);
  EXPECT_GE(VMC_ExecuteQuery(&c.conn, "select n from t where n < ?", &a, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(c.record()->params, nullptr) << "the transient set goes with the statement";
  EXPECT_GE(VMC_ExecuteQuery(&c.conn, "select n from t", &b, nullptr, nullptr, nullptr), 0);
  auto log = server.log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "DECLARE STC0_SMARTCUR CURSOR FOR select n from t where n < ?;");
  EXPECT_NE(std::find(log.begin(), log.end(), "DECLARE STC1_SMARTCUR CURSOR FOR select n from t;"), log.end());
  EXPECT_EQ(c.record()->stc_counter, 2u);
  auto values = server.params();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].wire_type, 5);
  ASSERT_EQ(values[0].value.size(), 4u);
  int sent = 0;
  std::memcpy(&sent, values[0].value.data(), 4);
  EXPECT_EQ(sent, 5);
  VMC_FreeResult(&a);
  VMC_FreeResult(&b);
}

TEST(DirectResults, CursorsOffAndMultiResultReplies) {
  CursorServer server;
  server.total = 4;
  Client c(server.port(), ";USE_SRVCURSOR=off");
  VMC_Handle result = nullptr;
  int64_t rows = 0;
  EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, &rows, nullptr), 4);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(*static_cast<uint32_t*>(result), 4u);
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(server.log(), std::vector<std::string>{"select n from t"});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(VMC_Fetch(&result), 0);
  EXPECT_EQ(VMC_Fetch(&result), 100);
  EXPECT_EQ(VMC_FreeResult(&result), 0);

  // Two statements in one text take the direct road even with cursors on.
  EXPECT_EQ(VMC_GetSqlKind("select 1; select 2"), SQL_KIND_OTHER);
  EXPECT_GE(VMC_ExecuteQuery(&c.conn, "select 1; select 2", &result, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(VMC_Fetch(&result), 0);
  EXPECT_EQ(value_of(&result), 1);
  EXPECT_EQ(VMC_NextResult(&result), 0);
  ASSERT_EQ(VMC_Fetch(&result), 0);
  EXPECT_EQ(value_of(&result), 2);
  EXPECT_EQ(VMC_NextResult(&result), 100);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
  // Freed before it was stepped through, it takes the results behind it
  // (the leak checker sees any left).
  EXPECT_GE(VMC_ExecuteQuery(&c.conn, "select 1; select 2", &result, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
}

TEST(ServerCursor, FreeingAnOpenCursorClosesItAndARefusalKeepsTheHandle) {
  CursorServer server;
  server.total = 30000;
  Client c(server.port());
  VMC_Handle result = nullptr;
  ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
  server.refuse_close = true;
  EXPECT_EQ(VMC_FreeResult(&result), -1);
  ASSERT_NE(result, nullptr);
  char code[6] = {}, message[256] = {};
  EXPECT_EQ(VMC_GetDiag(&result, code, message, nullptr), 0);
  EXPECT_EQ(std::string(code, 5), "EC027");
  EXPECT_EQ(std::string(message), "Error :cannot close Close Cursor STC0_SMARTCUR  \n");
  EXPECT_EQ(c.record()->error_text, nullptr) << "the text moved into the result";

  server.refuse_close = false;
  EXPECT_EQ(VMC_FreeResult(&result), 0);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(server.log().back(), "CLOSE STC0_SMARTCUR ");
  EXPECT_EQ(server.count_starting("CLOSE"), 2u);
}

TEST(ServerCursor, AFetchWithoutRowsClosesTheCursorAndKeepsTheServersText) {
  CursorServer server;
  server.total = 10;
  server.fail_fetch = true;
  Client c(server.port(), ";verbose_mode=0");
  VMC_Handle result = nullptr;
  EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(result, nullptr);
  EXPECT_STREQ(c.record()->error_text, "fetch went wrong");
  EXPECT_EQ(server.log().back(), "CLOSE STC0_SMARTCUR ");
  EXPECT_EQ(VMC_FreeResult(&result), 0);
}

// The rows end at the refusal, whose text stays the connection's, while the
// columns stay described: the result reads as one past its last row, but
// every further step answers the failure.
TEST(ServerCursor, ARefusedNextBlockLeavesNoCellOfTheBlockBefore) {
  CursorServer server;
  server.total = 30000;
  server.refuse_at_fetch = 2;  // the one sent ahead while the first block is read
  Client c(server.port(), ";verbose_mode=0");
  VMC_Handle result = nullptr;
  ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(vmc_read_ahead(&result, 1), 0);
  vmc_cell cell{};
  for (int i = 1; i <= 20000; ++i) {
    ASSERT_EQ(VMC_Fetch(&result), 0);
    ASSERT_EQ(vmc_row_cells(&result, &cell, 1), 0);
    ASSERT_EQ(cell.form, VMC_CELL_INT32);
  }
  EXPECT_EQ(VMC_Fetch(&result), -1);
  EXPECT_STREQ(c.record()->error_text, "fetch went wrong");
  // The block the cell was read from is gone with the refusal.
  EXPECT_EQ(vmc_row_cells(&result, &cell, 1), RC_NO_ROW_OR_NULL);
  EXPECT_EQ(cell.form, VMC_CELL_GENERAL);
  EXPECT_EQ(vmc_read_ahead(&result, 0), 0);
  int ctype = 0;
  uint32_t fields = 0;
  char name[128] = {};
  int32_t value = 0;
  int len = 0;
  EXPECT_EQ(VMC_GetColType(&result, 1, &ctype), 0);
  EXPECT_EQ(ctype, CT_INT32);
  EXPECT_EQ(VMC_GetFieldCount(&result, &fields), 0);
  EXPECT_EQ(fields, 1u);
  EXPECT_EQ(VMC_GetColName(&result, 1, name), 0);
  EXPECT_STREQ(name, "n");
  EXPECT_EQ(VMC_GetData(&result, 1, CT_INT32, &value, 4, &len), RC_NO_ROW_OR_NULL);
  EXPECT_EQ(VMC_Fetch(&result), -1);
  EXPECT_EQ(server.count_starting("FETCH"), 2u);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
  EXPECT_EQ(server.log().back(), "CLOSE STC0_SMARTCUR ");
}

// A server error among the rows: the call keeps its code and the rows before
// the error, past which stepping answers the failure with the server's text
// on the connection, and no later block is asked for.
TEST(ServerCursor, AnErrorAmongTheRowsEndsThemInAFailure) {
  struct Case {
    const char* what;
    int total;
    int error_after;
    const char* options;
    int code;       // of VMC_ExecuteQuery
    size_t fetches;
  } cases[] = {
      {"in the first and only block", 6, 3, "", 3, 1},
      {"in a later block, read ahead", 30000, 25000, "", 0, 2},
      {"behind a full block", 30000, 20000, "", 0, 1},
      {"read without a cursor", 6, 3, ";USE_SRVCURSOR=off", 3, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CursorServer server;
    server.total = k.total;
    server.error_after_row = k.error_after;
    // The server refuses to close the cursor that failed: the rows before
    // the error and the error stand all the same.
    server.refuse_close = true;
    Client c(server.port(), std::string(";verbose_mode=0") + k.options);
    VMC_Handle result = nullptr;
    ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), k.code);
    vmc_read_ahead(&result, 1);
    for (int i = 1; i <= k.error_after; ++i) ASSERT_EQ(VMC_Fetch(&result), 0) << i;
    EXPECT_EQ(value_of(&result), k.error_after);
    EXPECT_EQ(VMC_Fetch(&result), -1);
    EXPECT_STREQ(c.record()->error_text, "integer overflow");
    EXPECT_EQ(VMC_Fetch(&result), -1);
    EXPECT_EQ(server.count_starting("FETCH"), k.fetches);
    vmc_read_ahead(&result, 0);
    EXPECT_EQ(VMC_FreeResult(&result), 0);
  }

  // A named cursor's FETCH answers with its reply's code: a refusal is a
  // failure with the server's text.
  CursorServer server;
  server.total = 5;
  server.fail_fetch = true;
  Client c(server.port(), ";verbose_mode=0");
  ResultSet* rows = nullptr;
  int64_t count = -1;
  const int ask = 10;
  EXPECT_EQ(VMC_FetchCursor(&c.conn, "NOSUCH_CUR", &rows, nullptr, &count, &ask), -1);
  EXPECT_STREQ(c.record()->error_text, "fetch went wrong");
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);
}

TEST(NamedCursors, DeclareFetchAndExhaust) {
  CursorServer server;
  server.total = 25;
  Client c(server.port());
  ResultSet* declared = nullptr;
  int fields = -1;
  EXPECT_EQ(VMC_DeclareCursor(&c.conn, "select n from t", "C1", &declared, &fields), 0);
  EXPECT_EQ(declared, nullptr);  // the DECLARE reply was a bare 'K'
  EXPECT_EQ(fields, 0);

  ResultSet* rows = nullptr;
  int64_t count = 0;
  const int ask = 10;
  EXPECT_EQ(VMC_FetchCursor(&c.conn, "C1", &rows, &fields, &count, &ask), 10) << "the reply's code";
  EXPECT_EQ(count, 10);
  EXPECT_EQ(fields, 1);
  VMC_Handle h = rows;
  VMC_FreeResult(&h);

  ResultSet* into = nullptr;
  EXPECT_EQ(VMC_FetchCursorInto(&c.conn, "C1", &into), 15);
  ASSERT_NE(into, nullptr);
  EXPECT_EQ(into->row_count, 15);
  ResultSet* again = nullptr;
  EXPECT_EQ(VMC_FetchCursorInto(&c.conn, "C1", &again), -1);
  // The mark is C1's alone: another cursor closes, and a SELECT's own cursor
  // is closed when its rows came short.
  EXPECT_EQ(VMC_CloseCursor(&c.conn, "C2"), 0);
  VMC_Handle select = nullptr;
  EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &select, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VMC_FreeResult(&select), 0);
  // An exhausted cursor is not closed again.
  EXPECT_EQ(VMC_CloseCursor(&c.conn, "C1"), 0);
  h = into;
  VMC_FreeResult(&h);

  auto log = server.log();
  EXPECT_EQ(log, (std::vector<std::string>{"DECLARE C1 CURSOR FOR select n from t ", "OPEN C1 ;",
                                           "FETCH 10  FROM C1 ", "FETCH  20000  FROM  C1 ", "CLOSE C2 ",
                                           "DECLARE STC0_SMARTCUR CURSOR FOR select n from t;",
                                           "OPEN STC0_SMARTCUR ;", "FETCH 20000 FROM STC0_SMARTCUR ;",
                                           "CLOSE STC0_SMARTCUR "}));
}

TEST(ServerCursor, ARefusedCloseKeepsTheHandleOnTheNextResult) {
  CursorServer server;
  server.total = 30000;
  server.two_results_per_fetch = true;
  Client c(server.port());
  VMC_Handle result = nullptr;
  // The code is the status of the reply's last result: its one row.
  ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 1);
  VMC_Handle const smart = result;
  server.refuse_close = true;
  EXPECT_EQ(VMC_NextResult(&result), -1);
  EXPECT_EQ(result, smart);
  EXPECT_STREQ(c.record()->error_text, "[EC027]Error :cannot close Close Cursor STC0_SMARTCUR  \n");

  server.refuse_close = false;
  EXPECT_EQ(VMC_NextResult(&result), 0);
  EXPECT_EQ(*static_cast<uint32_t*>(result), 4u);
  ASSERT_EQ(VMC_Fetch(&result), 0);
  EXPECT_EQ(value_of(&result), -1);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
  EXPECT_EQ(server.count_starting("CLOSE STC0_SMARTCUR "), 2u);
}

TEST(ServerCursor, ALinkThatFailsIsAReadFailureAndKeepsTheEarlierText) {
  {
    // The server hangs up instead of answering the second FETCH.
    CursorServer server;
    server.total = 30000;
    server.hang_up_at_fetch = 2;
    Client c(server.port());
    VMC_Handle result = nullptr;
    ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
    conn_set_error(c.record(), "earlier");
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(VMC_Fetch(&result), 0);
    EXPECT_EQ(VMC_Fetch(&result), -4);
    EXPECT_STREQ(c.record()->error_text, "earlier");
    EXPECT_EQ(VMC_FreeResult(&result), 0);
  }
  {
    // OPEN refused, the link gone before the server's text.
    CursorServer server;
    server.hang_up_in_open_refusal = true;
    Client c(server.port());
    conn_set_error(c.record(), "earlier");
    VMC_Handle result = nullptr;
    EXPECT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), -4);
    EXPECT_EQ(result, nullptr);
    EXPECT_STREQ(c.record()->error_text, "earlier");
  }
}

// Plain results outlive their connection too: the chain of a statement read
// whole, a result reached from a server-cursor result, one read by a command.
// A LOB they hold by descriptor can no longer be fetched.
TEST(ServerCursor, PlainResultsOutliveTheirConnection) {
  enum Path { Direct, AfterCursor, ToResult };
  for (const Path path : {Direct, AfterCursor, ToResult}) {
    CursorServer server;
    server.total = 3;
    server.lob_descriptors = true;
    server.two_results_per_fetch = path == AfterCursor;
    Client c(server.port(), ";LOB_RET=1");
    VMC_Handle result = nullptr;
    int results = 1;
    if (path == Direct) {
      c.record()->srvcursor_off = 1;
      ASSERT_GE(VMC_ExecuteQuery(&c.conn, "select 1; select 2", &result, nullptr, nullptr, nullptr), 0);
      results = 2;
    } else if (path == AfterCursor) {
      ASSERT_GE(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
      ASSERT_EQ(VMC_NextResult(&result), 0);
    } else {
      ASSERT_GE(VMC_ExecuteToResult(&c.conn, "select n from t", reinterpret_cast<ResultSet**>(&result)), 0);
    }
    const size_t commands = server.log().size();
    ASSERT_EQ(VMC_CloseConn(&c.conn), 0);

    VMC_Handle lob = nullptr;
    ASSERT_EQ(VMC_CreateLob(&lob), 0);
    for (int k = 0; k < results; ++k) {
      if (k > 0) {
        ASSERT_EQ(VMC_NextResult(&result), 0);
      }
      ASSERT_EQ(VMC_Fetch(&result), 0) << path;
      int len = 0;
      EXPECT_EQ(VMC_GetData(&result, 1, CT_CLOB, &lob, 8, &len), RC_READ_FAILED) << path;
      char text[32] = {};
      EXPECT_EQ(VMC_GetData(&result, 1, CT_TEXT, text, sizeof text, &len), 0) << "the rows stay readable";
      EXPECT_STREQ(text, "C000000000000");
    }
    VMC_FreeLob(&lob);
    EXPECT_EQ(VMC_FreeResult(&result), 0);
    EXPECT_EQ(server.log().size(), commands) << path;
  }
}

// Results outlive their connection: closing it detaches them (their cursors
// went with the link), the rows in hand stay readable, and freeing them talks
// to no one. Past those rows a result whose cursor still had rows is cut
// short, not complete; a block read ahead before the close is in hand.
TEST(ServerCursor, ResultsOutliveTheirConnection) {
  struct Case {
    const char* what;
    int total;
    bool read_ahead;  // the next block was asked for ahead and its reply read
    int rows;         // rows in hand
    int after;        // what VMC_Fetch answers past them, and goes on answering
  };
  const Case cases[] = {
      {"the cursor still had rows", 45000, false, 20000, RC_READ_FAILED},
      {"every row had arrived", 7, false, 7, RC_NO_DATA},
      {"a full block read ahead", 45000, true, 40000, RC_READ_FAILED},
      {"the last block read ahead", 30000, true, 30000, RC_NO_DATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CursorServer server;
    server.total = c.total;
    Client client(server.port());
    VMC_Handle result = nullptr;
    ASSERT_GE(VMC_ExecuteQuery(&client.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
    if (c.read_ahead) {
      ASSERT_EQ(vmc_read_ahead(&result, 1), 0);
      ASSERT_EQ(vmc_read_ahead(&result, 0), 0);
    }
    const size_t commands = server.log().size();
    ASSERT_EQ(VMC_CloseConn(&client.conn), 0);

    for (int i = 1; i <= c.rows; ++i) ASSERT_EQ(VMC_Fetch(&result), 0) << i;
    EXPECT_EQ(value_of(&result), c.rows);
    EXPECT_EQ(VMC_Fetch(&result), c.after);
    EXPECT_EQ(VMC_Fetch(&result), c.after);
    EXPECT_EQ(VMC_FreeResult(&result), 0);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(server.log().size(), commands);
  }
}

// A letter that no reader can follow in the reply of a FETCH read ahead, in
// it or behind its end: the link is closed, and neither the CLOSE of the
// cursor nor any later exchange takes the rest for its own reply.
TEST(ServerCursor, AStrayLetterInAFetchReadAheadClosesTheLink) {
  for (const bool before_end : {true, false}) {
    SCOPED_TRACE(before_end ? "before the reply's end" : "behind the reply's end");
    CursorServer server;
    server.total = 30000;
    server.stray_at_fetch = 2;
    server.stray_before_end = before_end;
    Client c(server.port());
    // Were the stray letter read as a reply, the read would wait for more.
    net_set_recv_timeout_ms(c.record()->link.sock, 5000);
    VMC_Handle result = nullptr;
    ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(vmc_read_ahead(&result, 1), 0);
    int rc = 0;
    int rows = 0;
    while ((rc = VMC_Fetch(&result)) == RC_SUCCESS) ++rows;
    EXPECT_EQ(rc, RC_READ_FAILED);
    EXPECT_EQ(rows, 20000);
    EXPECT_EQ(VMC_ExecuteNoQuery(&c.conn, "DELETE FROM t"), RC_READ_FAILED);
    EXPECT_EQ(vmc_read_ahead(&result, 0), 0);
    VMC_FreeResult(&result);
    EXPECT_EQ(server.count_starting("DELETE"), 0u);
  }
}

// Letting go of a cursor whose next block was asked for ahead reads that
// block's reply first: the next statement gets its own.
TEST(ServerCursor, ForgettingACursorReadsTheFetchSentAhead) {
  CursorServer server;
  server.total = 45000;
  Client c(server.port());
  VMC_Handle result = nullptr;
  ASSERT_EQ(VMC_ExecuteQuery(&c.conn, "select n from t", &result, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(vmc_read_ahead(&result, 1), 0);
  EXPECT_EQ(vmc_forget_cursor(&result), 0);
  EXPECT_EQ(VMC_ExecuteNoQuery(&c.conn, "DELETE FROM t"), 3);
  EXPECT_EQ(VMC_FreeResult(&result), 0);
  EXPECT_EQ(server.log().back(), "DELETE FROM t");
}
