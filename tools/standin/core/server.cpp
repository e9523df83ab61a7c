#include "tools/standin/core/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "link/link.h"
#include "link/reply_letters.h"
#include "platform/net.h"
#include "tools/standin/core/login_responder.h"
#include "tools/standin/core/sql_session.h"

namespace standin {

namespace {

constexpr char kVersion[] = "standin 0.1.0";

std::string last_db_error(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

// Runs a statement that answers one text value (a PRAGMA); empty on failure.
std::string pragma_value(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    if (text) value = text;
  }
  sqlite3_finalize(stmt);
  return value;
}

// What the stand-in takes from a login text.
struct LoginClauses {
  std::string user;
  std::string password;
  bool auto_commit = true;
  bool lob_descriptors = false;
  int lock_timeout = 0;
};

LoginClauses parse_login(const std::string& text) {
  LoginClauses out;
  out.user = login_clause(text, " user=");
  out.password = login_clause(text, " password=");
  out.auto_commit = login_clause(text, " auto_commit = ") != "off";
  out.lob_descriptors = text.find(" lob_ret") != std::string::npos;
  const std::string lock = login_clause(text, " lock_timeout = ");
  out.lock_timeout = lock.empty() ? 0 : std::atoi(lock.c_str());
  return out;
}

}  // namespace

Server::Server(ServerOptions options) : options_(std::move(options)) {}

Server::~Server() { stop(); }

void Server::log(const char* fmt, ...) {
  if (!options_.log) return;
  char line[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  std::fprintf(options_.log, "standin: %s\n", line);
  std::fflush(options_.log);
}

bool Server::start(std::string* error) {
  db_path_ = options_.db_path;
  if (db_path_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/standin-XXXXXX";
    if (!mkdtemp(dir.data())) {
      *error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
      return false;
    }
    temp_dir_ = dir;
    db_path_ = dir + "/standin.db";
  }
  if (sqlite3_open_v2(db_path_.c_str(), &anchor_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    *error = "cannot open " + db_path_ + ": " + last_db_error(anchor_);
    stop();
    return false;
  }
  if (pragma_value(anchor_, "PRAGMA journal_mode=WAL") != "wal") {
    *error = "cannot put " + db_path_ + " into WAL mode: " + last_db_error(anchor_);
    stop();
    return false;
  }

  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(options_.port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(listen_fd_, 64) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      pipe2(wake_, O_CLOEXEC) != 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    stop();
    return false;
  }
  port_ = ntohs(sa.sin_port);
  running_ = true;
  acceptor_ = std::thread(&Server::accept_loop, this);
  return true;
}

void Server::accept_loop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      log("cannot wait for connections: %s", std::strerror(errno));
      return;
    }
    if (fds[1].revents) return;
    if (!fds[0].revents) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A reply's last small piece goes out at once, not after the client's
    // delayed acknowledgement of the piece before it.
    net_set_nodelay(fd);
    reap_done();
    std::lock_guard<std::mutex> g(mu_);
    // Each connection holds a thread, a socket and the database's files: past
    // the bound a client is turned away, so that the server keeps what it
    // needs for those it serves.
    const auto serving = std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return !c->done; });
    if (serving >= options_.max_connections) {
      log("%ld connections are open, the most --max-connections allows: a new one is closed",
          static_cast<long>(serving));
      close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    Client* c = client.get();
    c->fd = fd;
    try {
      c->thread = std::thread(&Server::serve, this, c, fd, next_id_++);
    } catch (const std::system_error& e) {
      // Out of threads: this one client is turned away, the others go on.
      log("cannot start a thread for a connection: %s; closed", e.what());
      close(fd);
      continue;
    }
    clients_.push_back(std::move(client));
  }
}

void Server::reap_done() {
  std::list<std::unique_ptr<Client>> done;
  {
    std::lock_guard<std::mutex> g(mu_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      auto next = std::next(it);
      if ((*it)->done) done.splice(done.end(), clients_, it);
      it = next;
    }
  }
  for (auto& c : done) c->thread.join();
}

void Server::serve(Client* client, int fd, int id) {
  Link* link = make_server_link(fd);
  LoginRequest request;
  sqlite3* db = nullptr;
  if (!link || !read_login(link, &request)) {
    log("connection %d: no login came; closed", id);
  } else {
    const LoginClauses login = parse_login(request.text);
    if ((!options_.user.empty() && login.user != options_.user) ||
        (!options_.password.empty() && login.password != options_.password)) {
      log("connection %d: login of user '%s' refused", id, login.user.c_str());
      refuse_login(link, REPLY_ERROR, "[ES028]login refused: wrong user name or password");
    } else if (sqlite3_open_v2(db_path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
               SQLITE_OK) {
      log("connection %d: cannot open the database: %s", id, last_db_error(db).c_str());
      refuse_login(link, REPLY_ERROR, "[ES014]cannot open the database: " + last_db_error(db));
    } else {
      // The lock time-out bounds, in milliseconds, how long a statement waits
      // for another connection's write lock.
      sqlite3_busy_timeout(db, login.lock_timeout > 0 ? login.lock_timeout : 0);
      sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
      // Pages are read where the file lies in memory rather than copied out
      // of the kernel's cache for each read: long walks over a table that
      // does not fit SQLite's own cache spent a tenth of their time there.
      sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
      bool answered;
      if (options_.login_reply == 'K') {
        answered = accept_login(link);
      } else {
        const uint8_t number[4] = {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                                   static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
        answered = accept_login_with_level(link, number);
      }
      if (answered) {
        {
          std::lock_guard<std::mutex> g(mu_);
          client->db = db;
        }
        SessionSettings settings;
        settings.auto_commit = login.auto_commit;
        settings.lob_descriptors = login.lob_descriptors;
        // A client answered 'K' alone speaks the older level, whose packed
        // batch values carry no type byte.
        settings.batch_type_bytes = options_.login_reply != 'K';
        settings.version_text = std::string(kVersion) + " (SQLite " + sqlite3_libversion() + ")";
        settings.id = id;
        settings.verbose = options_.verbose;
        settings.log = options_.log;
        if (options_.verbose) log("connection %d: user '%s' logged in", id, login.user.c_str());
        const std::string why = SqlSession(link, db, std::move(settings)).serve();
        if (!why.empty()) log("connection %d: %s; closed", id, why.c_str());
      }
    }
  }
  std::lock_guard<std::mutex> g(mu_);
  client->db = nullptr;
  sqlite3_close_v2(db);
  // The socket closes here, after stop() can no longer reach it.
  client->fd = -1;
  free_server_link(link);
  if (!link) close(fd);
  client->done = true;
}

void Server::stop() {
  if (running_.exchange(false)) {
    const char wake = 1;
    if (write(wake_[1], &wake, 1) < 0) {
      // The acceptor cannot be woken: closing the listener below ends its poll.
    }
    acceptor_.join();
    std::list<std::unique_ptr<Client>> clients;
    {
      std::lock_guard<std::mutex> g(mu_);
      for (auto& c : clients_) {
        if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
        if (c->db) sqlite3_interrupt(c->db);
      }
      clients.swap(clients_);
    }
    for (auto& c : clients) c->thread.join();
  }
  for (int* fd : {&listen_fd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (anchor_) sqlite3_close_v2(anchor_);
  anchor_ = nullptr;
  if (!temp_dir_.empty()) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((db_path_ + suffix).c_str());
    rmdir(temp_dir_.c_str());
    temp_dir_.clear();
  }
}

}  // namespace standin
