// The stand-in server: SQL over SQLite for trying the driver without the real
// server, on loopback only. `standin --help` lists the options.
//
// With port 0 (the default) it takes a free port; the port it listens on is
// printed as "listening on N" and, with --port-file, written to that file.
// Without --db the database is a fresh file in a temporary folder that goes
// away when the server stops (on SIGINT or SIGTERM).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/standin/core/server.h"

namespace {

constexpr char kUsage[] =
    "usage: standin [OPTION]...\n"
    "SQL over SQLite, speaking the driver's protocol on 127.0.0.1, until SIGINT or SIGTERM.\n"
    "\n"
    "  --port N             the port to listen on; 0 (the default) takes a free one\n"
    "  --port-file PATH     write the port there once listening\n"
    "  --db PATH            the database file (default: a fresh one in a temporary\n"
    "                       folder, removed when the server stops)\n"
    "  --user U             refuse logins with another user name (default: any)\n"
    "  --password P         refuse logins with another password (default: any)\n"
    "  --login-reply K|N    answer a login with N and a connection number (the\n"
    "                       default) or with K alone, the older protocol level\n"
    "  --max-connections N  serve at most N connections at once and close any more\n"
    "                       (default 256)\n"
    "  --verbose            log every statement on standard error\n"
    "  --help               print this text and exit\n";

// A bad command line: what was wrong, on standard error.
int bad_usage(const std::string& what) {
  std::fprintf(stderr, "standin: %s (standin --help lists the options)\n", what.c_str());
  return 2;
}

// A whole decimal number within [lo, hi].
bool parse_number(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != 0 || errno != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
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
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    static const char* const kWithValue[] = {"--port", "--port-file", "--db", "--user", "--password",
                                             "--login-reply", "--max-connections"};
    bool known = false;
    for (const char* name : kWithValue) known = known || arg == name;
    if (!known) return bad_usage("unknown option " + arg);
    if (i + 1 >= argc) return bad_usage(arg + " wants a value");
    const char* value = argv[++i];
    long number = 0;
    if (arg == "--port") {
      if (!parse_number(value, 0, 65535, &number))
        return bad_usage("--port wants a number from 0 to 65535, not '" + std::string(value) + "'");
      options.port = static_cast<uint16_t>(number);
    } else if (arg == "--max-connections") {
      if (!parse_number(value, 1, 1000000, &number))
        return bad_usage("--max-connections wants a number from 1 to 1000000, not '" + std::string(value) + "'");
      options.max_connections = static_cast<int>(number);
    } else if (arg == "--login-reply") {
      if (std::strcmp(value, "K") != 0 && std::strcmp(value, "N") != 0)
        return bad_usage("--login-reply wants K or N, not '" + std::string(value) + "'");
      options.login_reply = value[0];
    } else if (arg == "--port-file") {
      port_file = value;
    } else if (arg == "--db") {
      options.db_path = value;
    } else if (arg == "--user") {
      options.user = value;
    } else {
      options.password = value;
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
