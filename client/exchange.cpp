#include "client/exchange.h"

#include "client/command_frame.h"
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
  send_flush(conn);
}

void consume_params(Conn* conn, ParamSet* params) {
  if (!params) return;
  if (params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) release_param_set(params);
  conn->params = nullptr;
}
