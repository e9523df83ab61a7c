// Batch send rate: 100,000 rows of (int, bigint, varchar(20), double) are
// bound as arrays, packed and sent in one exchange to a peer on a local socket
// that reads the blocks, discards the values and answers 'K' once it has
// seen every row. Timed from the first bind to the reply.
//
// Beside it, the floor: the same bytes, packed beforehand, written to the same
// peer in one go. The ratio of the two is what binding and packing cost over
// moving the bytes.
//
// The count word of a real request holds at most 65535 rows, which
// VMC_ExecuteBatch enforces; to send all 100,000 in one exchange this drives
// the frame and the block sender directly, as VMC_ExecuteBatch does.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/replies/results_reader.h"
#include "client/requests/batch_blocks.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "link/wire_io.h"
#include "tools/standin/core/command_reader.h"
#include "tools/standin/core/login_responder.h"

// Allocations made on the benchmark's own thread while it counts.
namespace {
thread_local bool t_counting = false;
thread_local int64_t t_allocs = 0;
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  if (t_counting) ++t_allocs;
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  if (t_counting) ++t_allocs;
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  if (t_counting) ++t_allocs;
  return __libc_realloc(p, n);
}
}

namespace {

constexpr int kRows = 100000;
constexpr int kColumns = 4;
constexpr char kSql[] = "INSERT INTO t (id, big, name, score) VALUES (?, ?, ?, ?)";

struct Columns {
  std::vector<int32_t> ids;
  std::vector<int64_t> bigs;
  std::vector<uint8_t> names;  // u32 length, then the bytes, row after row
  std::vector<double> scores;
  std::vector<int> id_len, big_len, name_len, score_len;

  Columns() {
    char name[32];
    for (int i = 0; i < kRows; ++i) {
      ids.push_back(i);
      bigs.push_back(static_cast<int64_t>(i) * 1000003);
      // Names of 8 to 20 characters.
      const int n = std::snprintf(name, sizeof name, "name-%0*d", 3 + i % 13, i % 1000);
      const auto len = static_cast<uint32_t>(n);
      const auto* p = reinterpret_cast<const uint8_t*>(&len);
      names.insert(names.end(), p, p + 4);
      names.insert(names.end(), name, name + n);
      scores.push_back(i * 0.5);
      id_len.push_back(4);
      big_len.push_back(8);
      name_len.push_back(n);
      score_len.push_back(8);
    }
  }
};

const Columns& columns() {
  static const Columns c;
  return c;
}

// Bytes of one packed value after its type byte and length field.
uint32_t packed_value_bytes(uint8_t wire, uint32_t length) {
  if (length == 0) return 0;
  switch (wire) {
    case ST_INT16: return 2;
    case ST_INT32: case ST_FLOAT: return 4;
    case ST_INT64: case ST_DOUBLE: case ST_DATETIME: return 8;
    default: return length;
  }
}

uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// The peer: reads the frame, row 0 and the blocks, counting rows as the
// values go by, then answers 'K'.
void discarding_peer(int fd) {
  Link* link = standin::make_server_link(fd);
  standin::Command cmd;
  std::vector<standin::ParamRecord> row0;
  std::vector<uint8_t> block(1 << 20);
  int64_t rows_seen = 0;
  if (standin::read_command(link, &cmd) && standin::read_param_records(link, cmd.param_count & 0xFFFF, &row0)) {
    rows_seen = 1;
    while (rows_seen < kRows) {
      uint32_t n = 0;
      if (!recv_int(link, &n)) break;
      if (n > block.size()) block.resize(n);
      if (!recv_bytes(link, block.data(), n)) break;
      for (uint32_t at = 0, value = 0; at + 5 <= n; ++value) {
        const uint8_t wire = block[at];
        const uint32_t length = be32(&block[at + 1]);
        at += 5 + packed_value_bytes(wire, length);
        if (value % kColumns == kColumns - 1) ++rows_seen;
      }
    }
  }
  send_bytes(link, "K", 1);
  send_flush(link);
  standin::free_server_link(link);
}

struct Run {
  int fds[2] = {-1, -1};
  Conn* conn = nullptr;
  std::thread peer;

  bool start() {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
    conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
    conn->link.sock = fds[0];
    std::snprintf(conn->version, sizeof conn->version, "301");
    peer = std::thread(discarding_peer, fds[1]);
    return true;
  }
  bool reply_is_k() {
    ResultSet* rs = nullptr;
    const int rc = recv_results(conn, &rs);
    free_result_chain(rs);
    return rc == 0;
  }
  void finish() {
    peer.join();
    VMC_Handle h = conn;
    VMC_ClearParams(&h);
    std::free(conn->error_text);
    std::free(conn);
    close(fds[0]);
  }
};

void bind_all(VMC_Handle* h) {
  Columns& c = const_cast<Columns&>(columns());
  VMC_BindParamArray(h, 1, kColumns, 1, CT_INT32, kRows, c.ids.data(), kRows * 4, c.id_len.data());
  VMC_BindParamArray(h, 2, kColumns, 1, CT_INT64, kRows, c.bigs.data(), kRows * 8, c.big_len.data());
  VMC_BindParamArray(h, 3, kColumns, 1, CT_TEXT, kRows, c.names.data(), static_cast<int>(c.names.size()),
                     c.name_len.data());
  VMC_BindParamArray(h, 4, kColumns, 1, CT_DOUBLE, kRows, c.scores.data(), kRows * 8, c.score_len.data());
}

// The bytes of the request, packed once by the library for the floor.
std::vector<uint8_t> packed_request() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {};
  std::vector<uint8_t> bytes;
  std::thread reader([&] {
    uint8_t chunk[65536];
    for (ssize_t n; (n = ::read(fds[1], chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  });
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  conn->link.sock = fds[0];
  std::snprintf(conn->version, sizeof conn->version, "301");
  VMC_Handle h = conn;
  bind_all(&h);
  send_batch(conn, kSql, conn->params);
  send_flush(&conn->link);
  close(fds[0]);
  reader.join();
  close(fds[1]);
  VMC_ClearParams(&h);
  std::free(conn);
  return bytes;
}

// Times `send` (which writes the whole request on the connection) up to the
// peer's reply, one fresh link per iteration.
template <typename Send>
void time_batches(benchmark::State& state, Send send) {
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Run run;
    if (!run.start()) {
      state.SkipWithError("socketpair");
      break;
    }
    state.ResumeTiming();

    send(run.conn);
    if (!run.reply_is_k()) state.SkipWithError("no reply");
    rows += kRows;

    state.PauseTiming();
    run.finish();
    state.ResumeTiming();
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_BatchSend(benchmark::State& state) {
  int64_t allocs = 0;
  time_batches(state, [&](Conn* conn) {
    VMC_Handle h = conn;
    t_allocs = 0;
    t_counting = true;
    bind_all(&h);
    send_batch(conn, kSql, conn->params);
    send_flush(&conn->link);
    t_counting = false;
    allocs += t_allocs;
  });
  state.counters["allocs/batch"] = state.iterations() ? static_cast<double>(allocs) / state.iterations() : 0;
}

void BM_BatchSendFloor(benchmark::State& state) {
  static const std::vector<uint8_t> request = packed_request();
  time_batches(state, [&](Conn* conn) {
    send_bytes(&conn->link, request.data(), static_cast<uint32_t>(request.size()));
    send_flush(&conn->link);
  });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(request.size()));
}

BENCHMARK(BM_BatchSend)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_BatchSendFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
