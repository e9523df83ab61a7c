// Opening and closing a link's TCP socket.
#include "link/socket_link.h"

#include "link/link_cipher.h"
#include "platform/net.h"

namespace {

constexpr uint32_t kNoAddress = 0xffffffffu;

// A fresh link must not see bytes left over from the one it replaces.
void reset_link_buffers(Link* link) {
  link->recv_fill = 0;
  link->recv_pos = 0;
  link->pushback_letter = 0;
  link->send_fill = 0;
}

}  // namespace

bool open_socket(Link* link, const char* server_ip, uint16_t port, int32_t recv_timeout_ms, uint32_t* server_addr) {
  if (link->sock != 0) {
    net_close(link->sock);
    link->sock = 0;
  }
  reset_link_buffers(link);
  const uint32_t addr = net_inet_addr(server_ip);
  *server_addr = addr;

  int64_t sock = net_tcp_socket();
  if (sock == kNoSocket) return false;  // nothing to set options on
  // Option failures show up, if they matter, as a failed connect.
  net_set_reuseaddr(sock);
  net_set_nodelay(sock);
  net_set_keepalive(sock);
  if (recv_timeout_ms > 0) net_set_recv_timeout_ms(sock, recv_timeout_ms);

  // Only a dotted IPv4 address is understood; anything else cannot connect.
  if (addr == kNoAddress || !net_connect_ipv4(sock, addr, port)) {
    net_close(sock);
    link->sock = 0;
    return false;
  }
  net_set_linger_zero(sock);
  link->sock = sock;
  return true;
}

void close_link(Link* link) {
  net_close(link->sock);
  link->sock = 0;
  // Nothing read ahead may be taken for a reply once the link is gone.
  reset_link_buffers(link);
  free_link_ciphers(link);
}
