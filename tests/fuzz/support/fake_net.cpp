// The socket calls of platform/net.h for the fuzz targets: one link whose
// peer is the fuzzer's input. The targets link this file ahead of the
// platform library, whose own socket calls are then not linked in.
#include "tests/fuzz/support/fake_net.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "platform/net.h"

namespace fuzz {

namespace {

// What a socket's send buffer holds before a send that finds no room fails,
// as a real one would with the send time-out the old socket pair had.
constexpr size_t kSendRoom = 212992;

struct Peer {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;       // the next byte the client receives
  size_t piece = 0;    // the most one receive call hands out
  size_t sent = 0;     // bytes the client has sent
  bool cut = false;    // the link was shut down
};
Peer g_peer;

}  // namespace

void fake_net_serve(const uint8_t* data, size_t size, size_t piece) {
  g_peer = Peer{};
  g_peer.data = data;
  g_peer.size = size;
  g_peer.piece = std::max<size_t>(piece, 1);
}

}  // namespace fuzz

using fuzz::g_peer;

uint32_t net_inet_addr(const char* text) {
  in_addr addr{};
  if (!text || inet_aton(text, &addr) == 0) return INADDR_NONE;
  return addr.s_addr;
}

// The one link is made by the harness; no other socket can be had.
int64_t net_tcp_socket() { return kNoSocket; }
void net_close(int64_t /*sock*/) {}
void net_shutdown(int64_t sock) {
  if (sock > 0) g_peer.cut = true;
}

bool net_set_reuseaddr(int64_t sock) { return sock > 0; }
bool net_set_nodelay(int64_t sock) { return sock > 0; }
bool net_set_keepalive(int64_t sock) { return sock > 0; }
bool net_set_recv_timeout_ms(int64_t sock, int32_t /*ms*/) { return sock > 0; }
bool net_set_linger_zero(int64_t sock) { return sock > 0; }
bool net_connect_ipv4(int64_t /*sock*/, uint32_t /*addr*/, uint16_t /*port*/) { return false; }

int net_send(int64_t sock, const void* /*data*/, size_t n) {
  if (sock <= 0 || g_peer.cut) return kNetFailed;
  const size_t room = fuzz::kSendRoom - std::min(g_peer.sent, fuzz::kSendRoom);
  if (n > 0 && room == 0) return kNetFailed;
  const size_t taken = std::min({n, room, size_t{0x7fffffff}});
  g_peer.sent += taken;
  return static_cast<int>(taken);
}

// The peer's bytes in pieces; then its end.
int net_recv(int64_t sock, void* buf, size_t n) {
  if (sock <= 0) return kNetFailed;
  if (g_peer.cut) return 0;
  const size_t give = std::min({n, g_peer.piece, g_peer.size - g_peer.at, size_t{0x7fffffff}});
  if (give > 0) std::memcpy(buf, g_peer.data + g_peer.at, give);
  g_peer.at += give;
  return static_cast<int>(give);
}

// A peer that sends everything at once does so when the first request has
// come, and the rest of it waits from then on; one that sends a piece at a
// time sends it when asked.
bool net_bytes_waiting(int64_t sock) {
  return sock > 0 && !g_peer.cut && g_peer.piece == fuzz::kWhole && g_peer.sent > 0 && g_peer.at < g_peer.size;
}
