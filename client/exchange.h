// One request/reply exchange with the server: the connection's lock held for
// it, and the statement sent with the bound values that go with it.
#ifndef RIZEZOVA_CLIENT_EXCHANGE_H
#define RIZEZOVA_CLIENT_EXCHANGE_H

#include "client/conn.h"
#include "client/param_set.h"

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

// Sends a statement text with the connection's bound values (or none) and flushes.
void send_with_params(Conn* conn, const char* text, ParamSet* params);

// The bound values go with one execution: a set the connection made is
// released, a caller's own set is only detached.
void consume_params(Conn* conn, ParamSet* params);

#endif
