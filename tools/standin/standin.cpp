// The stand-in server: listens on loopback, answers logins on plain and
// encrypted links, and echoes every text it is sent back to its sender.
//
//   standin [--port N] [--port-file PATH]
//
// With port 0 (the default) it takes a free port; the port it listens on is
// printed as "listening on N" and, with --port-file, written to that file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "link/wire_io.h"
#include "tools/standin/core/login_responder.h"

namespace {

void serve(int fd) {
  Conn* link = standin::make_server_link(fd);
  standin::LoginRequest login;
  if (link && standin::read_login(link, &login) && standin::accept_login(link)) {
    for (;;) {
      char* text = nullptr;
      if (recv_str(link, &text) != 0) break;
      uint32_t len = static_cast<uint32_t>(std::strlen(text));
      send_int(link, len);
      send_bytes(link, text, len);
      std::free(text);
      if (send_flush(link) != 0) break;
    }
  }
  standin::free_server_link(link);
}

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 0;
  const char* port_file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = static_cast<uint16_t>(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) {
      port_file = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--port N] [--port-file PATH]\n", argv[0]);
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);

  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(lfd, 64) != 0) {
    std::perror("standin: listen");
    return 1;
  }
  socklen_t len = sizeof sa;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  if (port_file) {
    std::string tmp = std::string(port_file) + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "w")) {
      std::fprintf(f, "%u\n", port);
      std::fclose(f);
      std::rename(tmp.c_str(), port_file);
    }
  }
  std::printf("listening on %u\n", port);
  std::fflush(stdout);

  for (;;) {
    int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::thread(serve, fd).detach();
  }
}
