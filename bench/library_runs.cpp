// The measurements of `npm run bench` (bench/run.js) that run below the script
// binding: the client library alone and the floors it is measured beside.
// Every mode makes one untimed warm-up run, then prints one line per timed run.
//
//   library_runs fetch CONNSTR SQL RUNS
//       per run: the library's seconds (VMC_ExecuteQuery, VMC_Fetch, VMC_GetData
//       of every column), then the floor's seconds (the same cursor exchanges
//       on the same link, each reply's bytes walked without decoding), the rows
//       and the reply bytes of each.
//   library_runs batch CONNSTR ROWS RUNS
//       per run: the seconds of ROWS rows of (int, bigint, varchar(20), double)
//       bound with VMC_BindParamArray and sent with VMC_ExecuteBatch into table
//       b, in batches of at most 65535 rows (the most a request's count word
//       holds).
//   library_runs roundtrip COUNT RUNS
//       per run: the seconds of COUNT round trips of a small request and its
//       reply between two processes on a loopback TCP link.
//   library_runs connect COUNT RUNS
//       per run: the seconds of COUNT bare TCP connects and closes on a
//       loopback link.
//   library_runs memory CONNSTR SQL
//       one line: the peak growth of resident memory while one result holds
//       every row of SQL (read without a server cursor), the bytes of its reply
//       on the wire, the rows. One process measures once: its peak is its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/handles/conn.h"
#include "client/requests/command_frame.h"
#include "client/vmc.h"
#include "platform/net.h"

namespace {

double seconds_of(const std::function<bool()>& run) {
  const auto start = std::chrono::steady_clock::now();
  if (!run()) {
    std::fprintf(stderr, "library_runs: a run failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One warm-up, then `runs` timed runs, each printing the line `one` makes.
void repeat(int runs, const std::function<std::string()>& one) {
  for (int run = 0; run <= runs; ++run) {
    const std::string line = one();
    if (run > 0) std::printf("%s\n", line.c_str());
  }
}

std::string figures(std::initializer_list<double> values) {
  std::string line;
  char one[32];
  for (double v : values) {
    std::snprintf(one, sizeof one, line.empty() ? "%.6f" : " %.6f", v);
    line += one;
  }
  return line;
}

VMC_Handle open_or_exit(const std::string& conn_str) {
  VMC_Handle conn = nullptr;
  if (VMC_OpenConn(conn_str.c_str(), &conn) < 0) {
    std::fprintf(stderr, "library_runs: cannot connect with %s\n", conn_str.c_str());
    std::exit(1);
  }
  return conn;
}

// ---- fetch ----

// Reads a socket in large pieces and walks the reply bytes without keeping
// them, counting what it took.
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
  int64_t bytes() const { return bytes_; }

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
      bytes_ += got;
    }
    return true;
  }
  int64_t sock_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t fill_ = 0;
  int64_t bytes_ = 0;
};

// One reply: an optional 'A' item with its rows (fixed widths for the
// measured columns' int, bigint and double, else the value's length), any other items of a letter and a text, up to
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
        widths[k] = type == ST_INT32 ? 4 : (type == ST_INT64 || type == ST_DOUBLE) ? 8 : 0;
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

// The floor under a fetch: the exchanges VMC_ExecuteQuery and VMC_Fetch make
// (DECLARE, OPEN, FETCH by blocks of 20000, CLOSE), each reply walked.
int64_t walk_cursor(Conn* conn, ByteWalker& in, const char* sql) {
  send_query_flush(conn, (std::string("DECLARE floor_cur CURSOR FOR ") + sql + ";").c_str());
  if (walk_reply(in) < 0) return -1;
  send_query_flush(conn, "OPEN floor_cur ;");
  if (walk_reply(in) < 0) return -1;
  int64_t total = 0;
  for (int64_t got = 20000; got == 20000; total += got) {
    send_query_flush(conn, "FETCH 20000 FROM floor_cur ;");
    if ((got = walk_reply(in)) < 0) return -1;
  }
  send_query_flush(conn, "CLOSE floor_cur ");
  return walk_reply(in) < 0 ? -1 : total;
}

// Every row, every column read with VMC_GetData as the script binding reads it.
int64_t fetch_all(VMC_Handle* conn, const char* sql) {
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t rows = 0;
  if (VMC_ExecuteQuery(conn, sql, &result, &fields, &rows, &affected) < 0) return -1;
  int types[64] = {};
  for (int c = 0; c < fields && c < 64; ++c) VMC_GetColType(&result, c + 1, &types[c]);
  char text[64];
  int64_t count = 0;
  uint64_t sink = 0;
  while (VMC_Fetch(&result) == RC_SUCCESS) {
    for (int c = 0; c < fields && c < 64; ++c) {
      int len = 0;
      if (types[c] == CT_TEXT) {
        VMC_GetData(&result, c + 1, CT_TEXT, text, sizeof text, &len);
        sink += static_cast<uint8_t>(text[0]);
      } else {
        double value[2] = {};
        VMC_GetData(&result, c + 1, types[c], value, 8, &len);
        sink += static_cast<uint64_t>(len);
      }
    }
    ++count;
  }
  VMC_FreeResult(&result);
  return sink > 0 ? count : -1;
}

int fetch_mode(const std::string& conn_str, const char* sql, int runs) {
  VMC_Handle conn = open_or_exit(conn_str);
  ByteWalker in(static_cast<Conn*>(conn)->link.sock);
  repeat(runs, [&] {
    int64_t lib_rows = 0;
    int64_t floor_rows = 0;
    const double lib = seconds_of([&] { return (lib_rows = fetch_all(&conn, sql)) >= 0; });
    const int64_t before = in.bytes();
    const double floor =
        seconds_of([&] { return (floor_rows = walk_cursor(static_cast<Conn*>(conn), in, sql)) >= 0; });
    if (lib_rows != floor_rows) {
      std::fprintf(stderr, "library_runs: %lld rows through the library, %lld on the wire\n",
                   static_cast<long long>(lib_rows), static_cast<long long>(floor_rows));
      std::exit(1);
    }
    return figures({lib, floor, static_cast<double>(lib_rows), static_cast<double>(in.bytes() - before)});
  });
  VMC_CloseConn(&conn);
  return 0;
}

// ---- batch ----

struct BatchColumns {
  std::vector<int32_t> ids;
  std::vector<int64_t> bigs;
  std::vector<uint8_t> names;  // u32 length, then the bytes, row after row
  std::vector<double> scores;
  std::vector<int> id_len, big_len, name_len, score_len;
};

// Rows first .. first + count - 1, as bench/run.js makes them for its baselines.
BatchColumns batch_rows(int first, int count) {
  BatchColumns c;
  for (int i = first; i < first + count; ++i) {
    const std::string name = "name-" + std::to_string(i % 100000);
    const auto len = static_cast<uint32_t>(name.size());
    c.ids.push_back(i);
    c.bigs.push_back(static_cast<int64_t>(i) * 1000003);
    c.names.insert(c.names.end(), reinterpret_cast<const uint8_t*>(&len), reinterpret_cast<const uint8_t*>(&len) + 4);
    c.names.insert(c.names.end(), name.begin(), name.end());
    c.scores.push_back(i / 4.0);
    c.id_len.push_back(4);
    c.big_len.push_back(8);
    c.name_len.push_back(static_cast<int>(len));
    c.score_len.push_back(8);
  }
  return c;
}

bool send_batch(VMC_Handle* conn, BatchColumns& c) {
  const int rows = static_cast<int>(c.ids.size());
  return VMC_BindParamArray(conn, 1, 4, 1, CT_INT32, rows, c.ids.data(), rows * 4, c.id_len.data()) == 0 &&
         VMC_BindParamArray(conn, 2, 4, 1, CT_INT64, rows, c.bigs.data(), rows * 8, c.big_len.data()) == 0 &&
         VMC_BindParamArray(conn, 3, 4, 1, CT_TEXT, rows, c.names.data(), static_cast<int>(c.names.size()),
                            c.name_len.data()) == 0 &&
         VMC_BindParamArray(conn, 4, 4, 1, CT_DOUBLE, rows, c.scores.data(), rows * 8, c.score_len.data()) == 0 &&
         VMC_ExecuteBatch(conn, "INSERT INTO b (id, big, name, score) VALUES (?, ?, ?, ?)", rows) >= 0;
}

// The most rows one batch request carries: its count word holds them in 16 bits.
constexpr int kBatchMostRows = 65535;

int batch_mode(const std::string& conn_str, int rows, int runs) {
  VMC_Handle conn = open_or_exit(conn_str);
  // As many batches as the count word needs, of equal size.
  const int batches = (rows + kBatchMostRows - 1) / kBatchMostRows;
  std::vector<std::pair<int, int>> spans;
  for (int k = 0, first = 0; k < batches; ++k) {
    const int count = (rows - first) / (batches - k);
    spans.emplace_back(first, count);
    first += count;
  }
  repeat(runs, [&] {
    if (VMC_ExecuteNoQuery(&conn, "DELETE FROM b") < 0) std::exit(1);
    // The caller's columns are made outside the time, as a caller has them.
    std::vector<BatchColumns> columns;
    for (auto [first, count] : spans) columns.push_back(batch_rows(first, count));
    return figures({seconds_of([&] {
                  for (auto& c : columns) {
                    if (!send_batch(&conn, c)) return false;
                  }
                  return true;
                })});
  });
  VMC_CloseConn(&conn);
  return 0;
}

// ---- roundtrip and connect ----

// The backlog is the most the system takes, so that a connect never waits on
// a taker that has not been scheduled yet (a dropped SYN is retried after a
// second).
int listen_loopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    std::exit(1);
  }
  *port = ntohs(sa.sin_port);
  return fd;
}

int connect_loopback(const char* host, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, host, &sa.sin_addr);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

void no_delay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool exact(int fd, void* buf, size_t n, bool reading) {
  auto* p = static_cast<uint8_t*>(buf);
  for (size_t done = 0; done < n;) {
    const ssize_t got = reading ? recv(fd, p + done, n - done, 0) : send(fd, p + done, n - done, MSG_NOSIGNAL);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// A small request, about the size of a short INSERT with its values, and a
// reply of a few bytes.
constexpr size_t kRequestBytes = 64;
constexpr size_t kReplyBytes = 8;

int roundtrip_mode(int count, int runs) {
  uint16_t port = 0;
  const int listener = listen_loopback(&port);
  const int client = connect_loopback("127.0.0.1", port);
  const int server = accept(listener, nullptr, nullptr);
  if (client < 0 || server < 0) return 1;
  no_delay(client);
  no_delay(server);
  // The answering end is a process of its own, as a server is.
  const pid_t answerer = fork();
  if (answerer < 0) return 1;
  if (answerer == 0) {
    close(client);
    uint8_t request[kRequestBytes];
    uint8_t reply[kReplyBytes] = {'K'};
    while (exact(server, request, sizeof request, true) && exact(server, reply, sizeof reply, false)) {
    }
    _exit(0);
  }
  close(server);
  repeat(runs, [&] {
    uint8_t request[kRequestBytes] = {'?'};
    uint8_t reply[kReplyBytes];
    return figures({seconds_of([&] {
      for (int i = 0; i < count; ++i) {
        if (!exact(client, request, sizeof request, false) || !exact(client, reply, sizeof reply, true)) return false;
      }
      return true;
    })});
  });
  close(client);
  waitpid(answerer, nullptr, 0);
  close(listener);
  return 0;
}

// Connects to a listener of this process that takes each connection and
// closes it; the connecting side closes as the driver closes its link, with a
// reset, so that no end keeps a port waiting.
int connect_mode(int count, int runs) {
  uint16_t port = 0;
  const int listener = listen_loopback(&port);
  std::thread taker([listener] {
    for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) close(fd);
  });
  const linger reset{1, 0};
  repeat(runs, [&] {
    return figures({seconds_of([&] {
                  for (int i = 0; i < count; ++i) {
                    const int fd = connect_loopback("127.0.0.1", port);
                    if (fd < 0) {
                      std::perror("library_runs: connect");
                      return false;
                    }
                    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                    close(fd);
                  }
                  return true;
                })});
  });
  shutdown(listener, SHUT_RDWR);
  close(listener);
  taker.join();
  return 0;
}

// ---- memory ----

// A field of /proc/self/status in bytes (its "kB" figures), -1 when absent.
int64_t status_bytes(const char* key) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  int64_t kb = -1;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, n) == 0 && line[n] == ':') kb = std::atoll(line + n + 1);
  }
  std::fclose(f);
  return kb < 0 ? -1 : kb * 1024;
}

// Only the first timed line is the figure: `repeat` is not used, for a second
// run would find the first one's freed memory at hand.
int memory_mode(const std::string& conn_str, const char* sql) {
  // The wire bytes of the whole result in one reply, and every row on the
  // same connection through one result without a server cursor.
  VMC_Handle conn = open_or_exit(conn_str + ";USE_SRVCURSOR=off");
  Conn* c = static_cast<Conn*>(conn);
  int64_t wire = 0;
  {
    ByteWalker in(c->link.sock);
    send_query_flush(c, sql);
    if (walk_reply(in) < 0) return 1;
    wire = in.bytes();
  }
  // The peak is set back to what is resident now.
  FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (!clear || std::fputs("5", clear) < 0 || std::fclose(clear) != 0) return 1;
  const int64_t before = status_bytes("VmRSS");
  VMC_Handle result = nullptr;
  int fields = 0, affected = 0;
  int64_t rows = 0;
  if (VMC_ExecuteQuery(&conn, sql, &result, &fields, &rows, &affected) < 0) return 1;
  int64_t held = 0;
  while (VMC_Fetch(&result) == RC_SUCCESS) ++held;
  const int64_t peak = status_bytes("VmHWM");
  std::printf("%lld %lld %lld\n", static_cast<long long>(peak - before), static_cast<long long>(wire),
              static_cast<long long>(held));
  VMC_FreeResult(&result);
  VMC_CloseConn(&conn);
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: library_runs fetch CONNSTR SQL RUNS | batch CONNSTR ROWS RUNS | roundtrip COUNT RUNS |\n"
               "       connect COUNT RUNS | memory CONNSTR SQL\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (mode == "fetch" && argc == 5) return fetch_mode(argv[2], argv[3], std::atoi(argv[4]));
  if (mode == "batch" && argc == 5) return batch_mode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "roundtrip" && argc == 4) return roundtrip_mode(std::atoi(argv[2]), std::atoi(argv[3]));
  if (mode == "connect" && argc == 4) return connect_mode(std::atoi(argv[2]), std::atoi(argv[3]));
  if (mode == "memory" && argc == 4) return memory_mode(argv[2], argv[3]);
  return usage();
}
