// One request/reply exchange with the server: the connection's lock held for
// it, and the statement sent with the bound values that go with it.
#ifndef RIZEZOVA_CLIENT_REQUESTS_EXCHANGE_H
#define RIZEZOVA_CLIENT_REQUESTS_EXCHANGE_H

#include "client/handles/conn.h"
#include "client/params/param_set.h"
#include "client/replies/command_replies.h"  // recv_short_reply, for the commands' callers

// Holds the connection's lock for one exchange.
class ExchangeLock {
 public:
  explicit ExchangeLock(Conn* conn);
  ~ExchangeLock() { release(); }
  ExchangeLock(const ExchangeLock&) = delete;
  ExchangeLock& operator=(const ExchangeLock&) = delete;
  void release();

 private:
  Conn* conn_;
};

// Sends a statement text with the connection's bound values (or none) and
// flushes.
void send_with_params(Conn* conn, const char* text, ParamSet* params);

// A command text in a heap buffer of exactly its size; null when memory ran
// out.
char* format_command(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Sends a text without values and reads its short reply; a refusal's text
// replaces the connection's error text. The caller holds the lock.
int run_short_command(Conn* conn, const char* text);

// The bound values go with one execution: a set the connection made is
// released, a caller's own set is only detached.
void consume_params(Conn* conn, ParamSet* params);

#endif
