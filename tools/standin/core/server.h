// The stand-in server: a loopback listener, a thread per client connection,
// the login, and a SQLite connection per client on one database file kept in
// WAL mode, so that every client sees what others committed and nothing
// they did not.
#ifndef RIZEZOVA_STANDIN_SERVER_H
#define RIZEZOVA_STANDIN_SERVER_H

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace standin {

struct ServerOptions {
  uint16_t port = 0;         // 0: a free port
  std::string db_path;       // empty: a fresh file in a temporary folder, removed at stop
  std::string user;          // when set, the login's user must be this
  std::string password;      // when set, the login's password must be this
  char login_reply = 'N';    // 'N' (with four bytes and 'K') or 'K' alone
  int max_connections = 256; // connections served at once; more are closed at once
  bool verbose = false;      // log every statement
  FILE* log = stderr;        // where log lines go; null for none
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the database and starts listening; false with *error set when it cannot.
  bool start(std::string* error);
  uint16_t port() const { return port_; }
  const std::string& db_path() const { return db_path_; }
  // Stops listening, ends every connection and waits for them; removes a
  // temporary database. Safe to call more than once.
  void stop();

 private:
  struct Client {
    std::thread thread;
    int fd = -1;               // -1 once the connection has closed its socket
    sqlite3* db = nullptr;     // while the connection's SQL runs
    bool done = false;
  };

  void accept_loop();
  void serve(Client* client, int fd, int id);
  void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void reap_done();

  ServerOptions options_;
  std::string db_path_;
  std::string temp_dir_;  // set when the database is a temporary one
  sqlite3* anchor_ = nullptr;  // keeps the database (and its WAL) open while the server runs
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::atomic<bool> running_{false};
  std::atomic<int> next_id_{1};
  std::mutex mu_;
  std::list<std::unique_ptr<Client>> clients_;
};

}  // namespace standin

#endif
