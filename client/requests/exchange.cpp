// One request/reply exchange: its lock, its statement and values, and the
// cursor and statement commands that answer with a short reply.
#include "client/requests/exchange.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "client/requests/command_frame.h"
#include "link/wire_io.h"
#include "platform/lock.h"

ExchangeLock::ExchangeLock(Conn* conn) : conn_(conn) { lock_take(conn_->lock); }

void ExchangeLock::release() {
  if (conn_) lock_release(conn_->lock);
  conn_ = nullptr;
}

void send_with_params(Conn* conn, const char* text, ParamSet* params) {
  send_query(conn, text, params ? static_cast<uint32_t>(params->count) : 0);
  if (params) send_params(conn, params);
  send_flush(&conn->link);
}

void consume_params(Conn* conn, ParamSet* params) {
  if (!params) return;
  if (params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) release_param_set(params);
  conn->params = nullptr;
}

char* format_command(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  char* text = n < 0 ? nullptr : static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (text) std::vsnprintf(text, static_cast<size_t>(n) + 1, fmt, again);
  va_end(again);
  return text;
}

int run_short_command(Conn* conn, const char* text) {
  send_query_flush(conn, text);
  char* reason = nullptr;
  const int rc = recv_short_reply(conn, &reason);
  if (rc == RC_ERROR) conn_set_error(conn, reason);
  std::free(reason);
  return rc;
}
