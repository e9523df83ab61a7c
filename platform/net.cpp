// The socket calls of the link, over POSIX sockets.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int fd_of(int64_t sock) { return static_cast<int>(sock); }

// 0 is "no socket" in a connection record; descriptor 0 is the host's
// standard input and must never be used on behalf of a record without a link.
bool is_socket(int64_t sock) { return sock > 0; }

bool set_int_option(int64_t sock, int level, int name, int value) {
  return is_socket(sock) && setsockopt(fd_of(sock), level, name, &value, sizeof value) == 0;
}

// One call never moves more than an int can count.
size_t clamp_len(size_t n) { return n > INT_MAX ? INT_MAX : n; }

}  // namespace

uint32_t net_inet_addr(const char* text) {
  in_addr addr{};
  // inet_aton takes every form the classic address conversion does
  // ("127.1", octal and hex parts), not only four decimal parts.
  if (!text || inet_aton(text, &addr) == 0) return INADDR_NONE;
  return addr.s_addr;
}

int64_t net_tcp_socket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  if (fd == 0) {
    // 0 means "no socket" in the connection record: move it off descriptor 0.
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) return kNoSocket;
    fd = moved;
  }
  return fd;
}

void net_close(int64_t sock) {
  if (is_socket(sock)) close(fd_of(sock));
}

void net_shutdown(int64_t sock) {
  if (is_socket(sock)) shutdown(fd_of(sock), SHUT_RDWR);
}

bool net_set_reuseaddr(int64_t sock) { return set_int_option(sock, SOL_SOCKET, SO_REUSEADDR, 1); }
bool net_set_nodelay(int64_t sock) { return set_int_option(sock, IPPROTO_TCP, TCP_NODELAY, 1); }
bool net_set_keepalive(int64_t sock) { return set_int_option(sock, SOL_SOCKET, SO_KEEPALIVE, 1); }

bool net_set_recv_timeout_ms(int64_t sock, int32_t ms) {
  if (!is_socket(sock)) return false;
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  return setsockopt(fd_of(sock), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool net_set_linger_zero(int64_t sock) {
  if (!is_socket(sock)) return false;
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  return setsockopt(fd_of(sock), SOL_SOCKET, SO_LINGER, &lg, sizeof lg) == 0;
}

bool net_connect_ipv4(int64_t sock, uint32_t addr, uint16_t port) {
  if (!is_socket(sock)) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  if (connect(fd_of(sock), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
  if (errno != EINTR) return false;
  // An interrupted connect goes on in the background: wait for its outcome.
  pollfd pfd{fd_of(sock), POLLOUT, 0};
  int rc;
  do {
    rc = poll(&pfd, 1, -1);
  } while (rc < 0 && errno == EINTR);
  int err = 0;
  socklen_t len = sizeof err;
  return rc == 1 && getsockopt(fd_of(sock), SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

int net_send(int64_t sock, const void* data, size_t n) {
  if (!is_socket(sock)) return kNetFailed;
  ssize_t rc;
  do {
    rc = send(fd_of(sock), data, clamp_len(n), MSG_NOSIGNAL);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? kNetFailed : static_cast<int>(rc);
}

int net_recv(int64_t sock, void* buf, size_t n) {
  if (!is_socket(sock)) return kNetFailed;
  ssize_t rc;
  do {
    rc = recv(fd_of(sock), buf, clamp_len(n), 0);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? kNetFailed : static_cast<int>(rc);
}

bool net_bytes_waiting(int64_t sock) {
  int n = 0;
  return is_socket(sock) && ioctl(fd_of(sock), FIONREAD, &n) == 0 && n > 0;
}
