// The arguments of a query or querymany call, checked in the method's own
// order and taken apart once: the statement text, where its values come
// from, and the callback.
#ifndef RIZEZOVA_SRC_STATEMENT_CALL_H
#define RIZEZOVA_SRC_STATEMENT_CALL_H

#include <node.h>

#include <functional>
#include <string>

namespace zorezu {

enum class StatementMethod { Query, QueryMany };

struct StatementCall {
  // Checks the arguments and takes the statement apart. `open` tests the
  // connection's state and opens it when it was never opened (throwing when
  // it cannot); it runs where each method's order puts it. False when the
  // call ends here: a TypeError was thrown, script threw, or the statement
  // was a function, which has been called with null.
  bool parse(const v8::FunctionCallbackInfo<v8::Value>& args, StatementMethod method,
             const std::function<bool()>& open);

  std::string sql;
  // query: the container of the values (undefined without one); querymany:
  // the array of rows.
  v8::Local<v8::Value> values;
  // Empty when the call has none.
  v8::Local<v8::Function> callback;
  // query: whether a SELECT reads its rows now, as a callback is expected,
  // rather than handing its result to a query object.
  bool reads_rows = false;
};

}  // namespace zorezu

#endif
