#include "tests/cpp/support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "client/handles/handle.h"
#include "client/results/result_life.h"
#include "link/socket_link.h"

namespace testpeer {

namespace {

void set_recv_timeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

std::vector<uint8_t> read_exactly(int fd, size_t n) {
  std::vector<uint8_t> out(n);
  size_t done = 0;
  while (done < n) {
    ssize_t got = recv(fd, out.data() + done, n - done, 0);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  out.resize(done);
  return out;
}

std::vector<uint8_t> read_quiet(int fd, int quiet_ms) {
  std::vector<uint8_t> out;
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, quiet_ms) <= 0) break;
    uint8_t chunk[4096];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    out.insert(out.end(), chunk, chunk + got);
  }
  return out;
}

size_t bytes_waiting(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

void write_all(int fd, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
    if (sent <= 0) return;
    p += sent;
    n -= static_cast<size_t>(sent);
  }
}

}  // namespace

PeerConn::PeerConn(int fd) : link_(standin::make_server_link(fd)) { set_recv_timeout(fd, 5000); }
PeerConn::~PeerConn() { standin::free_server_link(link_); }

std::vector<uint8_t> PeerConn::read_raw(size_t n) { return read_exactly(fd(), n); }
void PeerConn::write_raw(const void* data, size_t n) { write_all(fd(), data, n); }
std::vector<uint8_t> PeerConn::read_until_quiet(int quiet_ms) { return read_quiet(fd(), quiet_ms); }

bool PeerConn::read_login(standin::LoginRequest* out) { return standin::read_login(link_, out); }

standin::LoginRequest PeerConn::login_ok() {
  standin::LoginRequest req;
  if (standin::read_login(link_, &req)) standin::accept_login(link_);
  return req;
}

std::unique_ptr<PeerConn> ScriptedPeer::Listener::accept(int timeout_ms) {
  pollfd pfd{fd_, POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) <= 0) return nullptr;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PeerConn>(fd);
}

ScriptedPeer::ScriptedPeer(Script script, const std::string& ip, uint16_t port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &sa.sin_addr);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listen_fd_, 16) != 0) {
    close(listen_fd_);
    throw std::runtime_error("scripted peer: cannot listen on " + ip);
  }
  socklen_t len = sizeof sa;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this, script = std::move(script)] {
    Listener listener(listen_fd_);
    script(listener);
  });
}

ScriptedPeer::~ScriptedPeer() {
  join();
  if (listen_fd_ >= 0) close(listen_fd_);
}

void ScriptedPeer::join() {
  if (thread_.joinable()) thread_.join();
}

LinkPair::LinkPair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
  client = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  client->handle_type = static_cast<uint32_t>(HandleType::Conn);
  client->link.sock = fds[0];
  set_recv_timeout(fds[0], 5000);
  set_recv_timeout(fds[1], 5000);
  peer_fd = fds[1];
}

LinkPair::~LinkPair() {
  // Results read over it may be freed after it, as after VMC_CloseConn.
  detach_conn_results(client);
  close_link(&client->link);
  std::free(client->error_text);
  std::free(client);
  peer_close();
}

// The test's reads hold the lock, so that the answerer counts every byte the
// client sent once: read already, or waiting.
std::vector<uint8_t> LinkPair::peer_read(size_t n) {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<uint8_t> got = read_exactly(peer_fd, n);
  read_ += got.size();
  return got;
}

std::vector<uint8_t> LinkPair::peer_read_available(int wait_ms) {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<uint8_t> got = read_quiet(peer_fd, wait_ms);
  read_ += got.size();
  return got;
}

void LinkPair::peer_write(const void* data, size_t n) { write_all(peer_fd, data, n); }

void LinkPair::peer_answer(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> g(mutex_);
  // What the client sent so far belongs to requests answered already.
  if (answers_.empty()) seen_ = read_ + bytes_waiting(peer_fd);
  answers_.push_back(bytes);
  if (!answerer_.joinable()) answerer_ = std::thread([this] { answer_requests(); });
  wake_.notify_all();
}

void LinkPair::answer_requests() {
  std::unique_lock<std::mutex> g(mutex_);
  for (;;) {
    wake_.wait(g, [this] { return stop_ || !answers_.empty(); });
    // A request has begun to arrive once the client has sent more than when
    // the last one was answered.
    size_t sent = 0;
    while (!stop_ && (sent = read_ + bytes_waiting(peer_fd)) <= seen_) {
      wake_.wait_for(g, std::chrono::microseconds(200));
    }
    if (stop_) return;
    seen_ = sent;
    const std::vector<uint8_t> answer = std::move(answers_.front());
    answers_.pop_front();
    write_all(peer_fd, answer.data(), answer.size());
  }
}

void LinkPair::peer_close() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  if (answerer_.joinable()) answerer_.join();
  if (peer_fd >= 0) close(peer_fd);
  peer_fd = -1;
}

Conn* new_client_conn(uint16_t port) {
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  std::snprintf(conn->server_ip, sizeof conn->server_ip, "127.0.0.1");
  conn->port = port;
  std::snprintf(conn->version, sizeof conn->version, "301");
  conn->recv_timeout = 5000;
  conn->lock_timeout = 300;
  conn->verbose_mode = 1;
  conn->state = 123;
  return conn;
}

void free_client_conn(Conn* conn) {
  if (!conn) return;
  detach_conn_results(conn);
  close_link(&conn->link);
  std::free(conn->error_text);
  std::free(conn);
}

}  // namespace testpeer
