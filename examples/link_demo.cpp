// Opens a link to a server, logs in on a plain and on an encrypted link, and
// sends a text over each that the stand-in server echoes back.
//
//   link_demo HOST PORT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/conn.h"
#include "link/link_cipher.h"
#include "link/login.h"
#include "link/socket_link.h"
#include "link/wire_io.h"
#include "platform/net.h"

namespace {

bool round_trip(Conn* conn, const char* text) {
  uint32_t len = static_cast<uint32_t>(std::strlen(text));
  send_int(conn, len);
  send_bytes(conn, text, len);
  if (send_flush(conn) != 0) return false;
  char* back = nullptr;
  if (recv_str(conn, &back) != 0) return false;
  std::printf("  sent \"%s\", server echoed \"%s\"\n", text, back);
  bool same = std::strcmp(text, back) == 0;
  std::free(back);
  return same;
}

bool try_link(const char* host, int port, bool encrypted) {
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  std::snprintf(conn->server_ip, sizeof conn->server_ip, "%s", host);
  conn->port = static_cast<uint16_t>(port);
  std::snprintf(conn->database, sizeof conn->database, "demo");
  std::snprintf(conn->user, sizeof conn->user, "demo");
  std::snprintf(conn->password, sizeof conn->password, "demo-password");
  std::snprintf(conn->version, sizeof conn->version, "301");
  conn->recv_timeout = 10000;
  conn->lock_timeout = 300;
  conn->use_ssl = encrypted ? 1 : 0;

  std::printf("%s link to %s:%d\n", encrypted ? "encrypted" : "plain", host, port);
  bool ok = false;
  if (!open_socket(conn)) {
    std::printf("  cannot connect\n");
  } else if (!login_database(conn)) {
    std::printf("  login refused: %s\n", conn->error_text ? conn->error_text : "");
  } else {
    std::printf("  logged in, server protocol level %s\n", conn->version);
    ok = round_trip(conn, encrypted ? "through the keystream and back" : "over the plain link and back");
  }
  free_link_ciphers(conn);
  net_close(conn->sock);
  std::free(conn->error_text);
  std::free(conn);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s HOST PORT\n", argv[0]);
    return 2;
  }
  int port = std::atoi(argv[2]);
  bool ok = try_link(argv[1], port, false);
  ok = try_link(argv[1], port, true) && ok;
  return ok ? 0 : 1;
}
