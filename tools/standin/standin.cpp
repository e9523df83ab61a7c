// The stand-in server: SQL over SQLite for trying the driver without the real
// server, on loopback only.
//
//   standin [--port N] [--port-file PATH] [--db PATH] [--user U] [--password P]
//           [--login-reply K|N] [--verbose]
//
// With port 0 (the default) it takes a free port; the port it listens on is
// printed as "listening on N" and, with --port-file, written to that file.
// Without --db the database is a fresh file in a temporary folder that goes
// away when the server stops (on SIGINT or SIGTERM).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/standin/core/server.h"

namespace {

int usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [--port N] [--port-file PATH] [--db PATH] [--user U] [--password P]\n"
               "          [--login-reply K|N] [--verbose]\n",
               self);
  return 2;
}

bool write_port_file(const char* path, uint16_t port) {
  const std::string tmp = std::string(path) + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "%u\n", port);
  return std::fclose(f) == 0 && std::rename(tmp.c_str(), path) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  standin::ServerOptions options;
  const char* port_file = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (std::strcmp(arg, "--verbose") == 0) {
      options.verbose = true;
    } else if (!has_value) {
      return usage(argv[0]);
    } else if (std::strcmp(arg, "--port") == 0) {
      char* end = nullptr;
      const long port = std::strtol(argv[++i], &end, 10);
      if (*end != 0 || port < 0 || port > 65535) return usage(argv[0]);
      options.port = static_cast<uint16_t>(port);
    } else if (std::strcmp(arg, "--port-file") == 0) {
      port_file = argv[++i];
    } else if (std::strcmp(arg, "--db") == 0) {
      options.db_path = argv[++i];
    } else if (std::strcmp(arg, "--user") == 0) {
      options.user = argv[++i];
    } else if (std::strcmp(arg, "--password") == 0) {
      options.password = argv[++i];
    } else if (std::strcmp(arg, "--login-reply") == 0) {
      const char* reply = argv[++i];
      if (std::strcmp(reply, "K") != 0 && std::strcmp(reply, "N") != 0) return usage(argv[0]);
      options.login_reply = reply[0];
    } else {
      return usage(argv[0]);
    }
  }

  // Every thread inherits this mask: the two stop signals are taken only by
  // the sigwait below, and a client that went away never raises SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  standin::Server server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "standin: %s\n", error.c_str());
    return 1;
  }
  if (port_file && !write_port_file(port_file, server.port())) {
    std::fprintf(stderr, "standin: cannot write %s\n", port_file);
    return 1;
  }
  std::printf("listening on %u\n", server.port());
  std::printf("database %s\n", server.db_path().c_str());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.stop();
  std::printf("stopped\n");
  return 0;
}
