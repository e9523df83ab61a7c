// The stand-in server's rate for 1,000,000 rows of (int, bigint, varchar(20),
// double) on one connection through the cursor path (DECLARE, OPEN, FETCH
// 20000 at a time, CLOSE), beside its floor, SQLite stepping the same rows in
// this process:
//   BM_SqliteStepFloor   sqlite3_step and the four values read as the server reads them, nothing sent
//   BM_StandinServe      the server, read by a client that only walks the bytes
//   BM_StandinClientFetch the server read through the client library (VMC_Fetch)
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/command_frame.h"
#include "client/conn.h"
#include "client/vmc.h"
#include "platform/net.h"
#include "tools/standin/core/server.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kBlock = 20000;
constexpr const char* kSelect = "SELECT id, big, name, score FROM t";

struct World {
  std::unique_ptr<standin::Server> server;
  VMC_Handle conn = nullptr;
  bool ok = false;
};

World& world() {
  static World w = [] {
    World w;
    standin::ServerOptions options;
    options.log = nullptr;
    w.server = std::make_unique<standin::Server>(options);
    std::string error;
    if (!w.server->start(&error)) {
      std::fprintf(stderr, "standin: %s\n", error.c_str());
      return w;
    }
    const std::string cs = "IP=127.0.0.1;PORT=" + std::to_string(w.server->port()) + ";DB=b;USER=u;PWD=p;verbose_mode=0";
    if (VMC_OpenConn(cs.c_str(), &w.conn) != RC_OPEN_OK) return w;
    // Names of 8 to 20 characters.
    const std::string fill =
        "CREATE TABLE t (id INT, big BIGINT, name VARCHAR(20), score DOUBLE);"
        "INSERT INTO t WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < " +
        std::to_string(kRows - 1) +
        ") SELECT i, i * 1000003, 'name-' || substr('0000000000000000', 1, 3 + i % 13) || (i % 1000), i * 0.5 FROM s";
    w.ok = VMC_ExecuteNoQuery(&w.conn, fill.c_str()) >= 0;
    return w;
  }();
  return w;
}

// Reads a socket in large pieces and walks the reply bytes without keeping them.
class ByteWalker {
 public:
  explicit ByteWalker(int64_t sock) : sock_(sock), buf_(1 << 20) {}
  bool u8(uint8_t* out) {
    if (!want(1)) return false;
    *out = buf_[pos_++];
    return true;
  }
  bool u32(uint32_t* out) {
    if (!want(4)) return false;
    const uint8_t* p = buf_.data() + pos_;
    *out = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    pos_ += 4;
    return true;
  }
  bool skip(size_t n) {
    while (n > 0) {
      if (!want(1)) return false;
      const size_t step = n < fill_ - pos_ ? n : fill_ - pos_;
      pos_ += step;
      n -= step;
    }
    return true;
  }

 private:
  bool want(size_t n) {
    if (fill_ - pos_ >= n) return true;
    std::memmove(buf_.data(), buf_.data() + pos_, fill_ - pos_);
    fill_ -= pos_;
    pos_ = 0;
    while (fill_ < n) {
      const int got = net_recv(sock_, buf_.data() + fill_, buf_.size() - fill_);
      if (got <= 0) return false;
      fill_ += static_cast<size_t>(got);
    }
    return true;
  }
  int64_t sock_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t fill_ = 0;
};

// One reply: an optional 'A' item with its rows (fixed widths by field type,
// else the value's length), any other items of a letter and a text, up to
// 'K'. Answers the rows, or -1 when the link failed.
int64_t walk_reply(ByteWalker& in) {
  int64_t rows = 0;
  std::vector<uint32_t> widths;
  for (;;) {
    uint8_t letter = 0;
    if (!in.u8(&letter)) return -1;
    if (letter == 'K') return rows;
    if (letter == 'A') {
      uint32_t n = 0, len = 0, type = 0, ignored = 0;
      if (!in.u32(&n)) return -1;
      widths.assign(n, 0);
      for (uint32_t k = 0; k < n; ++k) {
        if (!in.u32(&len) || !in.skip(len) || !in.u32(&type) || !in.u32(&ignored) || !in.u32(&ignored)) return -1;
        widths[k] = type == 5 ? 4 : (type == 6 || type == 9) ? 8 : 0;
      }
    } else if (letter == 'R') {
      for (uint32_t width : widths) {
        uint32_t len = 0;
        if (!in.u32(&len)) return -1;
        if (static_cast<int32_t>(len) > 0 && !in.skip(width ? width : len)) return -1;
      }
      ++rows;
    } else {
      uint32_t len = 0;
      if (!in.u32(&len) || !in.skip(len)) return -1;
    }
  }
}

void BM_SqliteStepFloor(benchmark::State& state) {
  World& w = world();
  if (!w.ok) return state.SkipWithError("no server");
  sqlite3* db = nullptr;
  sqlite3_open_v2(w.server->db_path().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  int64_t rows = 0;
  uint64_t sink = 0;
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, kSelect, -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      sqlite3_value* v[4];
      for (int k = 0; k < 4; ++k) v[k] = sqlite3_column_value(stmt, k);
      sink += static_cast<uint64_t>(sqlite3_value_int64(v[0])) + static_cast<uint64_t>(sqlite3_value_int64(v[1]));
      sink += reinterpret_cast<uintptr_t>(sqlite3_value_text(v[2])) + static_cast<uint64_t>(sqlite3_value_bytes(v[2]));
      sink += static_cast<uint64_t>(sqlite3_value_double(v[3]));
      ++rows;
    }
    sqlite3_finalize(stmt);
  }
  benchmark::DoNotOptimize(sink);
  sqlite3_close(db);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_StandinServe(benchmark::State& state) {
  World& w = world();
  if (!w.ok) return state.SkipWithError("no server");
  Conn* conn = static_cast<Conn*>(w.conn);
  ByteWalker in(conn->link.sock);
  int64_t rows = 0;
  for (auto _ : state) {
    send_query_flush(conn, (std::string("DECLARE bc CURSOR FOR ") + kSelect + ";").c_str());
    walk_reply(in);
    send_query_flush(conn, "OPEN bc ;");
    walk_reply(in);
    int64_t got;
    int64_t total = 0;
    do {
      send_query_flush(conn, "FETCH 20000 FROM bc ;");
      got = walk_reply(in);
      total += got;
    } while (got == kBlock);
    send_query_flush(conn, "CLOSE bc ");
    walk_reply(in);
    if (got < 0 || total != kRows) return state.SkipWithError("rows lost");
    rows += total;
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_StandinClientFetch(benchmark::State& state) {
  World& w = world();
  if (!w.ok) return state.SkipWithError("no server");
  int64_t rows = 0;
  for (auto _ : state) {
    VMC_Handle result = nullptr;
    int fields = 0, affected = 0;
    int64_t count = 0;
    if (VMC_ExecuteQuery(&w.conn, kSelect, &result, &fields, &count, &affected) < 0) {
      return state.SkipWithError("select failed");
    }
    int64_t n = 0;
    while (VMC_Fetch(&result) == RC_SUCCESS) ++n;
    VMC_FreeResult(&result);
    if (n != kRows) return state.SkipWithError("rows lost");
    rows += n;
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SqliteStepFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StandinServe)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StandinClientFetch)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
