// Decode rate of the results reader on a plain and on an encrypted link,
// beside their floor. A captured reply of (int, bigint, varchar(20), double)
// rows is written by a thread into a loopback TCP connection, the kind of
// socket a connection reads from. Each iteration times three reads from the
// same socket: the floor (the bytes taken in 8192-byte receives, as the link's
// buffer takes them, and not decoded), the plain decode (recv_results into a
// ResultSet) and the encrypted decode (the same rows enciphered with the link
// keystream, read by a link keyed as an encrypted login keys it). Only the
// reads are timed; every decoded value is checked, and the result freed,
// outside.
//
// The reported time is the whole iteration; "floor_ms", "plain_ms" and
// "enc_ms" are its three reads, "plain/floor", "enc/floor" and
// "enc/plain" their ratios. Run with repetitions, the medians are the figures
// to quote. "faults/decode" counts the page faults the process took while a
// decode ran.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "client/handles/conn.h"
#include "client/handles/handle.h"
#include "client/replies/results_reader.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/results/row_store.h"
#include "client/values/value_text.h"
#include "link/link_cipher.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// Names of 8 to 20 characters.
int name_of(int i, char (&name)[32]) { return std::snprintf(name, sizeof name, "name-%0*d", 3 + i % 13, i % 1000); }
int64_t big_of(int i) { return static_cast<int64_t>(i) * 1000003; }
double score_of(int i) { return i * 0.5; }

std::vector<uint8_t> captured_reply(int rows) {
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
  for (int i = 0; i < rows; ++i) {
    b.v.push_back('R');
    b.be(4, 4);
    b.be(static_cast<uint32_t>(i), 4);
    b.be(8, 4);
    b.be(static_cast<uint64_t>(big_of(i)), 8);
    b.text(name, static_cast<uint32_t>(name_of(i, name)));
    const double score = score_of(i);
    uint64_t bits;
    std::memcpy(&bits, &score, 8);
    b.be(8, 4);
    b.be(bits, 8);
  }
  b.v.push_back('K');
  return b.v;
}

// Both ends of a loopback TCP connection; -1 in `reader` when it failed.
struct LoopbackPair {
  int reader = -1;
  int writer = -1;

  LoopbackPair() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      if (listener >= 0) close(listener);
      return;
    }
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client >= 0 && connect(client, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      writer = accept(listener, nullptr, nullptr);
      reader = writer >= 0 ? client : -1;
    }
    if (reader < 0 && client >= 0) close(client);
    close(listener);
  }
  ~LoopbackPair() {
    if (reader >= 0) close(reader);
    if (writer >= 0) close(writer);
  }
};

void write_all(int fd, const std::vector<uint8_t>* bytes) {
  size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t n = ::write(fd, bytes->data() + done, bytes->size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Page faults the process has taken so far.
long page_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

// Seconds that `read` takes while a thread writes the reply into the pair.
template <typename Read>
double timed_read(const LoopbackPair& pair, const std::vector<uint8_t>& reply, Read read) {
  std::thread writer(write_all, pair.writer, &reply);
  const auto t0 = Clock::now();
  read();
  const auto t1 = Clock::now();
  writer.join();
  return std::chrono::duration<double>(t1 - t0).count();
}

// The floor: the reply's bytes taken as the link's receive buffer takes them.
bool read_undecoded(int fd, size_t n) {
  static uint8_t buf[kRecvBufSize];
  size_t got = 0;
  while (got < n) {
    const ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// Every value of every row, as the reply carried it.
bool decoded_whole(ResultSet* rs, int rows) {
  if (!rs || rs->row_count != rows || rs->field_count != 4 || rs->next) return false;
  char name[32];
  for (int i = 0; i < rows; ++i) {
    const uint8_t* row = *result_row_slot(rs, i);
    uint32_t len = 0;
    const uint8_t* id = row_field_ptr(row, rs->fields, 0, nullptr);
    const uint8_t* big = row_field_ptr(row, rs->fields, 1, nullptr);
    const uint8_t* text = row_field_ptr(row, rs->fields, 2, &len);
    const uint8_t* score = row_field_ptr(row, rs->fields, 3, nullptr);
    const int n = name_of(i, name);
    if (!id || !big || !text || !score || load_value<int32_t>(id) != i || load_value<int64_t>(big) != big_of(i) ||
        len != static_cast<uint32_t>(n) || std::memcmp(text, name, len) != 0 ||
        load_value<double>(score) != score_of(i)) {
      return false;
    }
  }
  return true;
}

constexpr uint8_t kLinkKey[32] = {7, 1, 8, 2, 8, 1, 8, 2, 8, 4, 5, 9, 0, 4, 5, 2,
                                  3, 5, 3, 6, 0, 2, 8, 7, 4, 7, 1, 3, 5, 2, 6, 6};

// The reply as the server's side of an encrypted link sends it: every byte
// XORed with the keystream from its start.
std::vector<uint8_t> enciphered(std::vector<uint8_t> bytes) {
  auto* server = static_cast<Link*>(alloc_zeroed(sizeof(Link)));
  init_link_ciphers(server, kLinkKey, sizeof kLinkKey);
  cipher_send_bytes(server, bytes.data(), static_cast<int>(bytes.size()));
  free_link_ciphers(server);
  std::free(server);
  return bytes;
}

void BM_DecodeReply(benchmark::State& state) {
  // Freed memory stays with the process, so that every iteration decodes
  // into memory already mapped: what is measured is the decoding, not the
  // kernel handing out pages again (each fault is dear on this machine).
  // With DECODE_BENCH_ALLOCATOR_DEFAULTS set the allocator keeps its own
  // settings, as in a process that does not tune it, and the page faults of
  // memory handed back and taken again count too.
  if (!std::getenv("DECODE_BENCH_ALLOCATOR_DEFAULTS")) {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }

  const int rows = static_cast<int>(state.range(0));
  const std::vector<uint8_t> reply = captured_reply(rows);
  LoopbackPair pair;
  if (pair.reader < 0) {
    state.SkipWithError("no loopback connection");
    return;
  }
  const std::vector<uint8_t> secret = enciphered(reply);
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  conn->link.sock = pair.reader;

  double floor_total = 0;
  double plain_total = 0;
  double enc_total = 0;
  long faults = 0;
  // One decode of `bytes`: seconds, or -1 when the rows did not come whole.
  auto decode = [&](const std::vector<uint8_t>& bytes) {
    ResultSet* rs = nullptr;
    bool read = false;
    const long faults_before = page_faults();
    const double s = timed_read(pair, bytes, [&] { read = recv_results(conn, &rs) >= 0; });
    faults += page_faults() - faults_before;
    const bool ok = read && decoded_whole(rs, rows) && conn->link.recv_fill == 0;
    free_result(rs);
    return ok ? s : -1;
  };
  auto one_round = [&](bool timed) {
    bool ok = true;
    const double floor_s = timed_read(pair, reply, [&] { ok = read_undecoded(pair.reader, reply.size()); });
    conn->link.use_ssl = 0;
    free_link_ciphers(&conn->link);
    const double plain_s = decode(reply);
    // Keyed afresh each round, so the keystream meets the bytes from their start.
    conn->link.use_ssl = 1;
    init_link_ciphers(&conn->link, kLinkKey, sizeof kLinkKey);
    const double enc_s = decode(secret);
    ok = ok && plain_s >= 0 && enc_s >= 0;
    if (timed) {
      floor_total += floor_s;
      plain_total += plain_s;
      enc_total += enc_s;
      state.SetIterationTime(floor_s + plain_s + enc_s);
    }
    return ok;
  };
  if (!one_round(false)) state.SkipWithError("reply not read whole");  // warm-up
  faults = 0;
  for (auto _ : state) {
    if (!one_round(true)) {
      state.SkipWithError("reply not read whole");
      break;
    }
  }
  free_link_ciphers(&conn->link);
  std::free(conn->error_text);
  std::free(conn);

  const double iterations = static_cast<double>(state.iterations());
  if (iterations > 0 && floor_total > 0 && plain_total > 0) {
    state.counters["floor_ms"] = floor_total * 1e3 / iterations;
    state.counters["plain_ms"] = plain_total * 1e3 / iterations;
    state.counters["enc_ms"] = enc_total * 1e3 / iterations;
    state.counters["faults/decode"] = static_cast<double>(faults) / (2 * iterations);
    state.counters["plain/floor"] = plain_total / floor_total;
    state.counters["enc/floor"] = enc_total / floor_total;
    state.counters["enc/plain"] = enc_total / plain_total;
  }
}
BENCHMARK(BM_DecodeReply)
    ->Arg(20000)  // one server-cursor block
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
