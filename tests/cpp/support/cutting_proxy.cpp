#include "tests/cpp/support/cutting_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace testpeer {

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

bool send_all(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

}  // namespace

CuttingProxy::CuttingProxy(uint16_t server_port) : server_port_(server_port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(0);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error("cutting proxy: cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { run(); });
}

CuttingProxy::~CuttingProxy() {
  (void)!write(wake_[1], "x", 1);
  thread_.join();
  close(listen_fd_);
  close(wake_[0]);
  close(wake_[1]);
}

void CuttingProxy::set_cut(size_t cut) {
  std::lock_guard<std::mutex> lock(mu_);
  cut_ = cut;
}

CuttingProxy::Record CuttingProxy::last() {
  std::unique_lock<std::mutex> lock(mu_);
  // A connection the client has finished with may still wait to be taken.
  while (busy_ || readable(listen_fd_)) idle_cv_.wait_for(lock, std::chrono::milliseconds(5));
  return last_;
}

void CuttingProxy::run() {
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents) return;
    const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mu_);
      busy_ = true;
    }
    serve(client);
    close(client);
    std::lock_guard<std::mutex> lock(mu_);
    busy_ = false;
    idle_cv_.notify_all();
  }
}

void CuttingProxy::serve(int client) {
  Record record;
  size_t cut;
  {
    std::lock_guard<std::mutex> lock(mu_);
    cut = cut_;
  }
  const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(server_port_);
  bool open = server >= 0 && connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  uint8_t buf[65536];
  while (open) {
    pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 3, -1) < 0) continue;
    if (p[2].revents) break;
    if (p[0].revents) {
      const ssize_t n = recv(client, buf, sizeof buf, 0);
      if (n <= 0) break;
      const size_t passed = record.server_bytes.size();
      if (record.reply_starts.empty() || record.reply_starts.back() != passed) record.reply_starts.push_back(passed);
      if (!send_all(server, buf, static_cast<size_t>(n))) break;
    }
    if (p[1].revents) {
      const ssize_t n = recv(server, buf, sizeof buf, 0);
      if (n <= 0) break;
      const size_t room = cut - record.server_bytes.size();
      const size_t pass = std::min(static_cast<size_t>(n), room);
      record.server_bytes.insert(record.server_bytes.end(), buf, buf + pass);
      if (!send_all(client, buf, pass)) break;
      open = pass == static_cast<size_t>(n) && pass < room;
    }
  }
  if (server >= 0) close(server);
  // The client reads what it was given, then the end; what it sends from now
  // on is taken and dropped until it closes.
  shutdown(client, SHUT_WR);
  for (;;) {
    pollfd p[2] = {{client, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents || recv(client, buf, sizeof buf, 0) <= 0) break;
  }
  std::lock_guard<std::mutex> lock(mu_);
  last_ = std::move(record);
}

}  // namespace testpeer
