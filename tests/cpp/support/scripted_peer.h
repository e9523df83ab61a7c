// Test peers for the client: a loopback listener that runs a script on its own
// thread, and a connected socket pair for byte-exact framing tests.
#ifndef RIZEZOVA_TESTS_SCRIPTED_PEER_H
#define RIZEZOVA_TESTS_SCRIPTED_PEER_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/handles/conn.h"
#include "link/link.h"
#include "tools/standin/core/login_responder.h"

namespace testpeer {

// One accepted connection on the peer's side. `link` is the server's end: the
// framed readers and writers work on it, through the keystream once an
// encrypted login has been read.
class PeerConn {
 public:
  explicit PeerConn(int fd);
  ~PeerConn();
  PeerConn(const PeerConn&) = delete;
  PeerConn& operator=(const PeerConn&) = delete;

  Link* link() const { return link_; }
  int fd() const { return static_cast<int>(link_->sock); }

  // Raw socket access, below the keystream.
  std::vector<uint8_t> read_raw(size_t n);  // exactly n bytes, fewer if the link closed
  void write_raw(const void* data, size_t n);
  // Everything the client sends until it closes or `quiet_ms` pass without data.
  std::vector<uint8_t> read_until_quiet(int quiet_ms = 300);

  // Reads the login; false when none came.
  bool read_login(standin::LoginRequest* out);
  // Reads the login and answers 'K'.
  standin::LoginRequest login_ok();

 private:
  Link* link_;
};

// A loopback listener on a free port (or the given one) whose script runs on
// a thread. The script accepts as many connections as it wants.
class ScriptedPeer {
 public:
  class Listener {
   public:
    explicit Listener(int fd) : fd_(fd) {}
    // The next connection, or null after `timeout_ms` without one.
    std::unique_ptr<PeerConn> accept(int timeout_ms = 5000);

   private:
    int fd_;
  };
  using Script = std::function<void(Listener&)>;

  explicit ScriptedPeer(Script script, const std::string& ip = "127.0.0.1", uint16_t port = 0);
  ~ScriptedPeer();
  uint16_t port() const { return port_; }
  // Waits for the script to end.
  void join();

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A client Conn on one end of a socket pair (plain link) and the peer's end.
struct LinkPair {
  LinkPair();
  ~LinkPair();
  LinkPair(const LinkPair&) = delete;
  LinkPair& operator=(const LinkPair&) = delete;

  Conn* client;  // zero-filled record, sock = one end, receive time-out 5 s
  int peer_fd;   // the other end

  Link* link() const { return &client->link; }

  std::vector<uint8_t> peer_read(size_t n);  // exactly n bytes, fewer if closed
  std::vector<uint8_t> peer_read_available(int wait_ms = 100);
  // Written at once: for a reader called without a request, or bytes that
  // come ahead of the request as no server sends them.
  void peer_write(const void* data, size_t n);
  void peer_write(const std::vector<uint8_t>& bytes) { peer_write(bytes.data(), bytes.size()); }
  // Written as a server answers: once the client's next request has begun to
  // arrive. Answers queue up, one per request, in order; a request is taken
  // to arrive in one piece.
  void peer_answer(const std::vector<uint8_t>& bytes);
  void peer_close();

 private:
  void answer_requests();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<uint8_t>> answers_;
  size_t read_ = 0;  // the client's bytes that the test has read
  size_t seen_ = 0;  // the client's bytes sent when its last request was answered
  bool stop_ = false;
  std::thread answerer_;
};

// A client record with the defaults of a fresh connection, aimed at 127.0.0.1:port.
Conn* new_client_conn(uint16_t port);
void free_client_conn(Conn* conn);

}  // namespace testpeer

#endif
