// Writes the fuzz targets' seed corpora into DIR/<target>/: the stand-in
// server's replies to real exchanges, recorded through a proxy, and the few
// reply items the stand-in never sends, built by hand. Each seed is a flag
// byte (see tests/fuzz/support/fuzz_conn.h) and the server's bytes.
//
//   fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "client/vmc.h"
#include "client/vmc_internal.h"
#include "tests/cpp/support/cutting_proxy.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tools/standin/core/server.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_dir;

const char* const kReplyTargets[] = {"recv_results", "recv_result_single", "recv_noQuery", "recv_query_value",
                                     "recv_noQuery_OP", "recv_param_descs"};

// A file named by its content's hash.
void write_file(const char* target, const Bytes& seed) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : seed) h = (h ^ b) * 1099511628211ull;
  char name[17];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(h));
  fs::create_directories(g_dir / target);
  FILE* f = std::fopen((g_dir / target / name).string().c_str(), "wb");
  if (!f) return;
  std::fwrite(seed.data(), 1, seed.size(), f);
  std::fclose(f);
}

void write_seed(const char* target, uint8_t flags, const Bytes& bytes) {
  if (bytes.size() > 60000) return;
  Bytes seed{flags};
  seed.insert(seed.end(), bytes.begin(), bytes.end());
  write_file(target, seed);
}

// Every reply of a recording after the login, for every reply reader, on
// both links.
void write_replies(const testpeer::CuttingProxy::Record& r, size_t login_bytes, const char* also = nullptr) {
  std::vector<size_t> bounds;
  for (size_t s : r.reply_starts) {
    if (s >= login_bytes) bounds.push_back(s);
  }
  bounds.push_back(r.server_bytes.size());
  for (size_t i = 0; i + 1 < bounds.size(); ++i) {
    const Bytes reply(r.server_bytes.begin() + static_cast<long>(bounds[i]),
                      r.server_bytes.begin() + static_cast<long>(bounds[i + 1]));
    if (reply.empty()) continue;
    for (const char* target : kReplyTargets) {
      for (uint8_t link : {0, 1}) write_seed(target, link, reply);
    }
    if (also) write_seed(also, 0, reply);
  }
}

// The server's bytes after the login.
Bytes after_login(const testpeer::CuttingProxy::Record& r, size_t login_bytes) {
  return Bytes(r.server_bytes.begin() + static_cast<long>(login_bytes), r.server_bytes.end());
}

class Recorder {
 public:
  explicit Recorder(uint16_t server_port) : proxy_(server_port) {}

  // Runs `work` on a connection through the proxy; what the server sent.
  testpeer::CuttingProxy::Record record(const std::string& more, const std::function<void(VMC_Handle)>& work) {
    const std::string text = "IP=127.0.0.1;PORT=" + std::to_string(proxy_.port()) + ";DB=main;USER=u;PWD=p;" + more;
    VMC_Handle conn = nullptr;
    if (VMC_OpenConn(text.c_str(), &conn) != RC_OPEN_OK) {
      std::fprintf(stderr, "cannot open %s\n", text.c_str());
      std::exit(1);
    }
    if (work) work(conn);
    VMC_CloseConn(&conn);
    return proxy_.last();
  }

 private:
  testpeer::CuttingProxy proxy_;
};

void exec(VMC_Handle conn, const char* sql) { VMC_ExecuteNoQuery(&conn, sql); }

void value(VMC_Handle conn, const std::string& sql) {
  alignas(8) char out[64] = {};
  int type = 0;
  int on_heap = 0;
  vmc_execute_value(&conn, sql.c_str(), out, &type, &on_heap);
  if (on_heap) {
    void* copy = nullptr;
    std::memcpy(&copy, out + 4, sizeof copy);
    VMC_FreeBuffer(&copy);
  }
}

void walk(VMC_Handle conn, const char* sql) {
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t rows = 0;
  if (VMC_ExecuteQuery(&conn, sql, &result, &fields, &rows, &affected) >= 0) {
    do {
      while (VMC_Fetch(&result) == RC_SUCCESS) {
        for (int col = 1; col <= fields; ++col) {
          int ctype = 0, len = 0;
          VMC_GetColType(&result, col, &ctype);
          if (ctype == CT_CLOB || ctype == CT_BLOB) {
            VMC_Handle lob = nullptr;
            VMC_CreateLob(&lob);
            VMC_GetData(&result, col, ctype, &lob, 8, &len);
            VMC_FreeLob(&lob);
          }
        }
      }
    } while (VMC_NextResult(&result) == RC_SUCCESS);
  }
  VMC_FreeResult(&result);
}

void prepared(VMC_Handle conn, bool named) {
  char name[32] = {};
  VMC_Prepare2(&conn, "INSERT INTO p VALUES (:a, ?, :c)", named ? name : nullptr);
  int32_t v = 5;
  int len = 4;
  char text[] = "text";
  int text_len = 4;
  VMC_BindParamByName(&conn, "a", 1, CT_INT32, &v, 4, &len, &len);
  VMC_BindParam(&conn, 2, 1, CT_TEXT, text, 4, &text_len);
  VMC_BindParamByName(&conn, "c", 1, CT_TEXT, text, 4, &len, &text_len);
  VMC_Execute2(&conn, named ? name : nullptr, nullptr, nullptr);
  VMC_UnPrepare(&conn, named ? name : nullptr);
}

void batch(VMC_Handle conn) {
  int32_t ids[3] = {1, 2, 3};
  int id_lengths[3] = {4, 4, 4};
  VMC_BindParamArray(&conn, 1, 1, 1, CT_INT32, 3, ids, sizeof ids, id_lengths);
  VMC_ExecuteBatch(&conn, "INSERT INTO bt VALUES (?)", 3);
}

// Replies the stand-in never sends: output values, messages, warnings, and a
// cursor whose first block is full.
void write_built() {
  ReplyBytes out;
  out.letter('O').u32(30).u32(5).raw("hello").letter('O').u32(5).u32(4).u32(42);
  out.letter('P').u32(3).u32(9).u32(8).f64(2.5).letter('P').u32(5).u32(13).u32(8).u64(1700000000000ull);
  out.letter('K');
  ReplyBytes texts;
  texts.letter('M').text("a message").letter('W').text("a warning").letter('U').u32(3).letter('K');
  ReplyBytes failed;
  failed.letter('E').text("[EC999]refused").letter('K');
  // Replies that once broke a reader: a row id counted past the largest
  // count, result sets before the count of a reader that keeps none, and more
  // fields than a result may have, with the rest of that reply behind them.
  ReplyBytes overflow;
  overflow.letter('U').u32(0x7FFFFFFF).letter('I').text("1").letter('K');
  ReplyBytes rows_then_count;
  rows_then_count.letter('A').u32(2).field("n", 5).field("s", 30);
  for (int i = 0; i < 3; ++i) rows_then_count.letter('R').u32(4).u32(static_cast<uint32_t>(i)).text("v");
  rows_then_count.letter('U').u32(2).letter('K');
  ReplyBytes wide;
  wide.letter('A').u32(4001).field("f", 5).letter('R').u32(4).u32(1).letter('K');
  // A row id, then a single value whose type code of 100 or more is the
  // server's own, not a heap copy; rows and then counts for a reader of one
  // result set.
  ReplyBytes odd_type;
  odd_type.letter('I').text("RowId-1234567890").letter('A').u32(1).field("a", 107, 4);
  odd_type.letter('R').text("abcd").letter('K');
  ReplyBytes rows_then_ids;
  rows_then_ids.letter('A').u32(1).field("n", 5).letter('R').u32(4).u32(1);
  rows_then_ids.letter('D').u32(1).letter('I').text("r").letter('K');
  for (const ReplyBytes* r : {&out, &texts, &failed, &overflow, &rows_then_count, &wide, &odd_type, &rows_then_ids}) {
    for (const char* target : kReplyTargets) write_seed(target, 0, r->bytes);
  }
  // DECLARE, OPEN, a full block of rows without columns, the next block, CLOSE.
  ReplyBytes walk;
  walk.letter('K').letter('K').letter('A').u32(0);
  for (int i = 0; i < 20000; ++i) walk.letter('R');
  walk.letter('K').letter('A').u32(0).letter('R').letter('K').letter('K');
  write_seed("query_walk", 0, walk.bytes);
}

void write_conn_strings() {
  const char* texts[] = {
      "IP=127.0.0.1;Port=5138;Database=shop;USER=me;PWD=secret;CHAR_SET=UTF8",
      "SERVER=10.0.0.1,PORT=1,UID=a,PASSWORD=b,AUTO_COMMIT=off,USE_SSL=on,LOB_RET=1",
      "IP=h;IPS=127.0.0.1:5138,10.0.0.2:5139,10.0.0.3;LOCK_TIMEOUT=100;USE_SRVCURSOR=off",
      "DB=d; user id = u ;ISO_LEVEL=READ COMMITTED;CURRENT_SCHEMA=s;COMPATIBLE_MODE=m;KEYWORD_FILTER=k;"
      "verbose_mode=3;RETURN_CURSOR_ID=off;TIME_ZONE=8;RETURN_ROWID=1",
  };
  for (const char* t : texts) {
    write_file("conn_string", Bytes(t, t + std::strlen(t)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  g_dir = argv[1];
  standin::ServerOptions options;
  options.log = nullptr;
  standin::Server server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  Recorder rec(server.port());

  // Logins on both links: the flag byte says which.
  const size_t plain_login = rec.record("", nullptr).server_bytes.size();
  write_seed("login", 0, rec.record("", nullptr).server_bytes);
  write_seed("login", 1, rec.record("USE_SSL=on;", nullptr).server_bytes);

  rec.record("", [](VMC_Handle c) {
    exec(c, "CREATE TABLE kinds (k INT, i INT, b BIGINT, v VARCHAR(20), d DOUBLE, f FLOAT, si SMALLINT, ti TINYINT, "
            "yes BOOLEAN, dt DATE, ts DATETIME, tm TIME, n NUMERIC(10,2), bl BLOB, cl CLOB)");
    exec(c, "CREATE TABLE p (a INT, b VARCHAR(10), c VARCHAR(10))");
    exec(c, "CREATE TABLE bt (a INT)");
    exec(c, "CREATE TABLE doc (body CLOB)");
  });
  const auto dml = rec.record("", [](VMC_Handle c) {
    value(c, "INSERT INTO kinds VALUES (1, -7, 9007199254740993, 'h\xc3\xa9llo', 1.5, 2.5, -3, 7, 1, '2024-02-29', "
             "'2024-02-29 12:34:56.789', '12:34:56', 12.34, x'414243', 'clob text')");
    value(c, "INSERT INTO kinds (k) VALUES (2)");
    value(c, "UPDATE kinds SET i = i + 1");
    value(c, "DELETE FROM kinds WHERE k > 5");
    exec(c, "INSERT INTO nowhere VALUES (1)");
    value(c, "SELECT v FROM kinds");
    value(c, "SHOW AUTO_COMMIT;");
    exec(c, "COMMIT;");
    value(c, "INSERT INTO doc VALUES ('" + std::string(3000, 'l') + "')");
    value(c, "SELECT 'a value longer than sixty-four bytes, which goes to a copy on the heap', 2");
  });
  write_replies(dml, plain_login);

  const char* settings[] = {"", "LOB_RET=1;", "USE_SRVCURSOR=off;", "LOB_RET=1;USE_SRVCURSOR=off;"};
  for (uint8_t i = 0; i < 4; ++i) {
    for (const char* sql : {"SELECT * FROM kinds", "SELECT body FROM doc", "SELECT k FROM kinds WHERE k < 0",
                            "SELECT k FROM kinds; SELECT v, d FROM kinds"}) {
      const auto r = rec.record(settings[i], [sql](VMC_Handle c) { walk(c, sql); });
      write_seed("query_walk", static_cast<uint8_t>(i << 1), after_login(r, plain_login));
      write_replies(r, plain_login, i & 1 ? "fetch_lob" : nullptr);
    }
  }
  for (bool named : {false, true}) {
    const auto r = rec.record("", [named](VMC_Handle c) { prepared(c, named); });
    write_seed("prepare", named ? 8 : 0, after_login(r, plain_login));
    write_replies(r, plain_login);
  }
  write_replies(rec.record("", batch), plain_login);

  write_built();
  write_conn_strings();
  server.stop();
  return 0;
}
