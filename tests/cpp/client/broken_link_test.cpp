// The link to the stand-in server closed after every byte offset of the
// replies of an exchange of each kind: each run ends in the
// exchange's failure code or in its whole outcome, never in part of one; the
// next exchange fails on the link, and everything can still be released.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/vmc.h"
#include "tests/cpp/support/cutting_proxy.h"
#include "tests/cpp/support/standin_fixture.h"

namespace {

using testpeer::CuttingProxy;

constexpr int kRows = 40003;  // three blocks of the server cursor

// What an exchange gave: its first failure code (0 when none) and, when it
// did not fail, its outcome as text.
struct Outcome {
  int failure = 0;
  std::string text;
};

// Keeps the first failure; true while there is none.
bool step(Outcome* out, int rc) {
  if (rc < 0 && out->failure == 0) out->failure = rc;
  return out->failure == 0;
}

Outcome cursor_rows(VMC_Handle conn, const char* sql) {
  Outcome out;
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  if (step(&out, VMC_ExecuteQuery(&conn, sql, &result, &fields, &count, &affected))) {
    int rc;
    int64_t rows = 0;
    while ((rc = VMC_Fetch(&result)) == RC_SUCCESS) {
      ++rows;
      for (int col = 1; col <= fields; ++col) {
        char text[64] = {};
        int len = 0;
        VMC_GetData(&result, col, CT_TEXT, text, sizeof text, &len);
        if (rows <= 3 || rows > kRows - 3) out.text += std::string(text) + ",";
      }
    }
    if (step(&out, rc)) out.text += "rows " + std::to_string(rows);
  }
  // A result whose cursor died with the link goes all the same.
  const int freed = VMC_FreeResult(&result);
  EXPECT_TRUE(freed == RC_SUCCESS || freed == RC_READ_FAILED) << freed;
  EXPECT_EQ(result, nullptr);
  return out;
}

Outcome insert(VMC_Handle conn) {
  Outcome out;
  char answer[64] = {};
  int type = 0;
  if (step(&out, VMC_ExecuteValue(&conn, "INSERT OR REPLACE INTO one VALUES (1, 'x')", answer, &type))) {
    out.text = answer;
  }
  return out;
}

Outcome prepared(VMC_Handle conn) {
  Outcome out;
  if (!step(&out, VMC_Prepare2(&conn, "INSERT OR REPLACE INTO one VALUES (?, ?)", nullptr))) return out;
  int id = 2, id_len = 4;
  char v[] = "a";
  int v_len = 1;
  VMC_BindParam(&conn, 1, 1, CT_INT32, &id, 4, &id_len);
  VMC_BindParam(&conn, 2, 1, CT_TEXT, v, 1, &v_len);
  if (step(&out, VMC_Execute2(&conn, nullptr, nullptr, nullptr)) && step(&out, VMC_UnPrepare(&conn, nullptr))) {
    out.text = "done";
  }
  return out;
}

Outcome batch(VMC_Handle conn) {
  Outcome out;
  int32_t ids[3] = {3, 4, 5};
  int id_lengths[3] = {4, 4, 4};
  // Each text is a u32 length in host order, then its bytes.
  std::vector<uint8_t> texts;
  for (const char c : {'b', 'c', 'd'}) {
    const uint32_t n = 1;
    texts.insert(texts.end(), reinterpret_cast<const uint8_t*>(&n), reinterpret_cast<const uint8_t*>(&n) + 4);
    texts.push_back(static_cast<uint8_t>(c));
  }
  int text_lengths[3] = {1, 1, 1};
  VMC_BindParamArray(&conn, 1, 2, 1, CT_INT32, 3, ids, sizeof ids, id_lengths);
  VMC_BindParamArray(&conn, 2, 2, 1, CT_TEXT, 3, texts.data(), static_cast<int>(texts.size()), text_lengths);
  if (step(&out, VMC_ExecuteBatch(&conn, "INSERT OR REPLACE INTO one VALUES (?, ?)", 3))) out.text = "done";
  return out;
}

Outcome lob(VMC_Handle conn) {
  Outcome out;
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t count = 0;
  if (step(&out, VMC_ExecuteQuery(&conn, "SELECT body FROM doc", &result, &fields, &count, &affected)) &&
      step(&out, VMC_Fetch(&result))) {
    VMC_Handle value = nullptr;
    VMC_CreateLob(&value);
    int len = 0;
    if (step(&out, VMC_GetData(&result, 1, CT_CLOB, &value, 8, &len))) {
      out.text.resize(static_cast<size_t>(len));
      VMC_GetLobData(&value, out.text.data(), static_cast<uint32_t>(len));
    }
    VMC_FreeLob(&value);
  }
  VMC_FreeResult(&result);
  return out;
}

// Offsets to cut at: every byte of every reply, but in a long one (a block
// of rows) the rows in its middle, which the reader meets alike, are stood
// for by its first and last bytes and a spread of others.
std::vector<size_t> cut_offsets(std::vector<size_t> starts, size_t end) {
  std::vector<size_t> offsets;
  starts.push_back(end);
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    const size_t from = starts[i], to = starts[i + 1];
    const size_t spread = (to - from + 5) / 6;
    for (size_t k = from; k < to; ++k) {
      if (to - from <= 4096 || k - from < 48 || to - k <= 24 || (k - from) % spread == 0) offsets.push_back(k);
    }
  }
  return offsets;
}

class BrokenLink : public standin_test::StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    VMC_Handle c = open();
    ASSERT_NE(c, nullptr);
    const std::string setup[] = {
        "CREATE TABLE big (x INT)",
        "INSERT INTO big WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
            std::to_string(kRows) + ") SELECT x FROM n",
        "CREATE TABLE one (id INTEGER PRIMARY KEY, v VARCHAR(10))",
        "INSERT INTO one VALUES (1, 'x'), (2, 'a')",
        "CREATE TABLE doc (body CLOB)",
        "INSERT INTO doc VALUES ('" + std::string(200, 'q') + "')",
    };
    for (const std::string& sql : setup) {
      ASSERT_GE(exec(c, sql), 0) << sql;
    }
    proxy_ = std::make_unique<CuttingProxy>(port());
  }

  std::string via_proxy(const std::string& more) const {
    return "IP=127.0.0.1;PORT=" + std::to_string(proxy_->port()) + ";DB=main;USER=tester;PWD=secret;" + more;
  }

  std::unique_ptr<CuttingProxy> proxy_;
};

TEST_F(BrokenLink, EachExchangeEndsInItsFailureOrWhole) {
  struct Exchange {
    const char* name;
    const char* more;
    std::function<Outcome(VMC_Handle)> run;
  };
  const auto select = [](VMC_Handle c) { return cursor_rows(c, "SELECT id, v FROM one ORDER BY id"); };
  const std::vector<Exchange> plain = {
      {"cursor", "", [](VMC_Handle c) { return cursor_rows(c, "SELECT x FROM big ORDER BY x"); }},
      {"insert", "", insert},
      {"prepared", "", prepared},
      {"batch", "", batch},
      {"lob", "LOB_RET=1;", lob},
      {"select", "", select},
  };
  // Each encrypted login costs the server dear: the encrypted link has its
  // login cut, and a SELECT.
  const std::vector<Exchange> encrypted = {{"select", "", select}};
  for (const char* link : {"", "USE_SSL=on;"}) {
    // The login alone: every cut fails the open, and the failed record closes.
    proxy_->set_cut(CuttingProxy::kNoCut);
    VMC_Handle conn = nullptr;
    ASSERT_EQ(VMC_OpenConn(via_proxy(link).c_str(), &conn), RC_OPEN_OK);
    VMC_CloseConn(&conn);
    const size_t login_bytes = proxy_->last().server_bytes.size();
    for (size_t cut = 0; cut < login_bytes; ++cut) {
      proxy_->set_cut(cut);
      EXPECT_EQ(VMC_OpenConn(via_proxy(link).c_str(), &conn), RC_LOGIN_FAILED) << link << " login cut at " << cut;
      EXPECT_EQ(VMC_CloseConn(&conn), RC_SUCCESS);
    }

    for (const Exchange& x : *link ? encrypted : plain) {
      SCOPED_TRACE(std::string(x.name) + " " + link);
      const std::string conn_str = via_proxy(std::string(link) + x.more);
      proxy_->set_cut(CuttingProxy::kNoCut);
      ASSERT_EQ(VMC_OpenConn(conn_str.c_str(), &conn), RC_OPEN_OK);
      const Outcome whole = x.run(conn);
      ASSERT_EQ(whole.failure, 0);
      VMC_CloseConn(&conn);
      const CuttingProxy::Record record = proxy_->last();

      std::vector<size_t> starts;
      for (size_t s : record.reply_starts) {
        if (s >= login_bytes) starts.push_back(s);
      }
      int failed = 0;
      for (size_t cut : cut_offsets(starts, record.server_bytes.size())) {
        proxy_->set_cut(cut);
        ASSERT_EQ(VMC_OpenConn(conn_str.c_str(), &conn), RC_OPEN_OK);
        const Outcome got = x.run(conn);
        if (got.failure != 0) {
          EXPECT_EQ(got.failure, RC_READ_FAILED) << "cut at " << cut;
          ++failed;
        } else {
          EXPECT_EQ(got.text, whole.text) << "cut at " << cut;
        }
        char answer[64] = {};
        int type = 0;
        EXPECT_EQ(VMC_ExecuteValue(&conn, "SELECT 1", answer, &type), RC_READ_FAILED) << "after a cut at " << cut;
        EXPECT_EQ(VMC_CloseConn(&conn), RC_SUCCESS);
      }
      EXPECT_GT(failed, 0);
    }
  }
}

}  // namespace
