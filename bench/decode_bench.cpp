// Decode rate of the results reader: a captured reply of 1,000,000 rows of
// (int, bigint, varchar(20), double) is written into a local socket by one
// thread and read into a ResultSet by recv_results on the benchmark's thread.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "client/conn.h"
#include "client/result_set.h"
#include "client/results_reader.h"

namespace {

constexpr int kRows = 1000000;

struct Bytes {
  std::vector<uint8_t> v;
  void be(uint64_t x, int n) {
    for (int i = n - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  }
  void text(const char* s, uint32_t n) {
    be(n, 4);
    v.insert(v.end(), s, s + n);
  }
};

std::vector<uint8_t> captured_reply() {
  Bytes b;
  b.v.push_back('A');
  b.be(4, 4);
  const struct {
    const char* name;
    uint32_t type;
    uint32_t length;
  } fields[] = {{"t.id", 5, 4}, {"t.big", 6, 8}, {"t.name", 30, 20}, {"t.score", 9, 8}};
  for (const auto& f : fields) {
    b.text(f.name, static_cast<uint32_t>(std::strlen(f.name)));
    b.be(f.type, 4);
    b.be(f.length, 4);
    b.be(0, 4);
  }
  char name[32];
  for (int i = 0; i < kRows; ++i) {
    b.v.push_back('R');
    b.be(4, 4);
    b.be(static_cast<uint32_t>(i), 4);
    b.be(8, 4);
    b.be(static_cast<uint64_t>(i) * 1000003, 8);
    // Names of 8 to 20 characters.
    const int n = std::snprintf(name, sizeof name, "name-%0*d", 3 + i % 13, i % 1000);
    b.text(name, static_cast<uint32_t>(n));
    double score = i * 0.5;
    uint64_t bits;
    std::memcpy(&bits, &score, 8);
    b.be(8, 4);
    b.be(bits, 8);
  }
  b.v.push_back('K');
  return b.v;
}

void write_all(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void BM_DecodeReply(benchmark::State& state) {
  static const std::vector<uint8_t> reply = captured_reply();
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
      state.SkipWithError("socketpair");
      break;
    }
    std::memset(conn, 0, sizeof *conn);
    conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
    conn->sock = fds[0];
    std::thread writer(write_all, fds[1], std::cref(reply));
    state.ResumeTiming();

    ResultSet* rs = nullptr;
    const int rc = recv_results(conn, &rs);
    if (rc < 0 || !rs || rs->row_count != kRows) state.SkipWithError("reply not read whole");
    rows += rs ? rs->row_count : 0;
    free_result(rs);

    state.PauseTiming();
    writer.join();
    close(fds[0]);
    close(fds[1]);
    state.ResumeTiming();
  }
  std::free(conn->error_text);
  std::free(conn);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_DecodeReply)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
