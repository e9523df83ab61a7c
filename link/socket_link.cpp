#include "link/socket_link.h"

#include "link/login.h"
#include "link/wire_io.h"
#include "platform/net.h"

namespace {

constexpr uint32_t kNoAddress = 0xffffffffu;

// A fresh link must not see bytes left over from the one it replaces.
void reset_link_buffers(Conn* conn) {
  conn->recv_fill = 0;
  conn->recv_pos = 0;
  conn->pushback_letter = 0;
  conn->send_fill = 0;
}

}  // namespace

bool open_socket(Conn* conn) {
  if (conn->sock != 0) {
    net_close(conn->sock);
    conn->sock = 0;
  }
  reset_link_buffers(conn);
  conn->server_addr = net_inet_addr(conn->server_ip);

  int64_t sock = net_tcp_socket();
  if (sock == 0) return false;  // no socket: nothing to set options on
  // Option failures show up, if they matter, as a failed connect.
  net_set_reuseaddr(sock);
  net_set_nodelay(sock);
  net_set_keepalive(sock);
  if (conn->recv_timeout > 0) net_set_recv_timeout_ms(sock, conn->recv_timeout);

  // Only a dotted IPv4 address is understood; anything else cannot connect.
  if (conn->server_addr == kNoAddress || !net_connect_ipv4(sock, conn->server_addr, conn->port)) {
    net_close(sock);
    conn->sock = 0;
    return false;
  }
  net_set_linger_zero(sock);
  conn->sock = sock;
  return true;
}

int reconnect(Conn* conn) {
  if (!open_socket(conn)) {
    conn_set_error(conn, "[EC0197]Error when RECONNECT Sock Failure");
    return RC_SOCKET_FAILED;
  }
  if (!login_database(conn)) {
    conn_set_error(conn, "[EC0198]Error when LOGIN database Failure");
    return RC_LOGIN_FAILED;
  }
  return 1;
}
