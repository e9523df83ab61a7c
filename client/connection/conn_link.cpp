// A connection's link opened, logged in and reconnected with the record's settings.
#include "client/connection/conn_link.h"

#include <cstring>

#include "client/text/bounded_copy.h"
#include "link/reply_letters.h"
#include "link/socket_link.h"

namespace {

constexpr int32_t kStateLoggedIn = 1;

template <size_t N>
std::string_view field(const char (&text)[N]) {
  return std::string_view(text, strnlen(text, N));
}

const char* text_of(LoginOutcome outcome) {
  switch (outcome) {
    case LoginOutcome::RecvFailed: return "[EC0195]Error when RECIEVING ,Net Recieve Error";
    case LoginOutcome::NoK: return "[EC0196]Error Can't finish build connect ,Receives K failed";
    case LoginOutcome::TextTooLong: return "[EC0194]Error when LOGIN ,login text too long";
    case LoginOutcome::BadServerNumbers: return "[EC0193]Error when LOGIN ,unusable encryption values from server";
    case LoginOutcome::NoLinkKey: return "[EC0192]Error when LOGIN ,no random source for the link key";
    case LoginOutcome::NoCipherMemory: return "[EC0191]Error when LOGIN ,no memory for the link ciphers";
    case LoginOutcome::LoggedIn: break;
  }
  return nullptr;
}

}  // namespace

LoginSettings login_settings_of(Conn* conn) {
  LoginSettings s{};
  s.database = field(conn->database);
  s.user = field(conn->user);
  s.password = field(conn->password);
  s.char_set = field(conn->char_set);
  s.iso_level = field(conn->iso_level);
  s.current_schema = field(conn->current_schema);
  s.compatible_mode = field(conn->compatible_mode);
  s.keyword_filter = field(conn->keyword_filter);
  s.version = field(conn->version);
  s.lock_timeout = conn->lock_timeout;
  s.auto_commit_off = conn->auto_commit_off;
  s.return_cursor_id_off = conn->return_cursor_id_off;
  s.lob_ret = conn->lob_ret;
  s.server_exponent = conn->login_exponent;
  s.server_modulus = conn->login_modulus;
  return s;
}

bool conn_open_socket(Conn* conn) {
  return open_socket(&conn->link, conn->server_ip, conn->port, conn->recv_timeout, &conn->server_addr);
}

bool conn_login(Conn* conn) {
  uint8_t level = 0;
  const LoginOutcome outcome = login_database(&conn->link, login_settings_of(conn), &level);
  // The answer's first letter tells the protocol level the next login announces.
  if (level == REPLY_END) copy_bounded(conn->version, sizeof conn->version, "201");
  if (level == REPLY_LOGIN_LEVEL) copy_bounded(conn->version, sizeof conn->version, "301");
  if (outcome != LoginOutcome::LoggedIn) {
    conn_set_error(conn, text_of(outcome));
    return false;
  }
  conn->state = kStateLoggedIn;
  return true;
}

int conn_reconnect(Conn* conn) {
  if (!conn_open_socket(conn)) {
    conn_set_error(conn, "[EC0197]Error when RECONNECT Sock Failure");
    return RC_SOCKET_FAILED;
  }
  if (!conn_login(conn)) {
    conn_set_error(conn, "[EC0198]Error when LOGIN database Failure");
    return RC_LOGIN_FAILED;
  }
  return RC_RECONNECTED;
}
