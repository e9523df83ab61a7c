// The script's connection object: its connection string, its client
// connection, the result its last query left, and a state word that every
// method tests before it talks to the server.
#ifndef RIZEZOVA_SRC_VM_CONNECTION_H
#define RIZEZOVA_SRC_VM_CONNECTION_H

#include <node.h>
#include <node_object_wrap.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "client/vmc.h"

namespace zorezu {

class VMQuery;

enum VMConnectionState : uint32_t {
  kNotConnected = 0,
  kOpen = 1,
  kEnded = 2,
  kDestroyed = 3,
  kDisconnected = 5,
};

class VMConnection : public node::ObjectWrap {
 public:
  static void Init(v8::Isolate* isolate);
  // A new connection object made from the call's first argument.
  static void NewInstance(const v8::FunctionCallbackInfo<v8::Value>& args);

  // Query objects reading a result of the open client connection. Their
  // results are freed before the client connection closes, and they learn
  // that it closed.
  void adopt_reader(VMQuery* reader) { readers_.insert(reader); }
  void forget_reader(VMQuery* reader) { readers_.erase(reader); }
  // The result of a collected query object whose server cursor is still
  // open. Closing the cursor waits on the server, which the garbage collector
  // must not do: it is closed at the connection's next call, or when the
  // connection closes.
  void close_later(VMC_Handle result) { closing_.push_back(result); }

  bool is_open() const { return state == kOpen; }
  // The client connection as it stands, for reading its error text.
  VMC_Handle client() const { return p_conn; }
  // The client connection for a call that talks to the server; the cursors
  // left by collected query objects are closed first.
  VMC_Handle begin_call();

 private:
  explicit VMConnection(char* conn_str) : conn_str(conn_str) {}
  ~VMConnection() override;

  static void New(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void end(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void connect(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void query(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void querymany(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void beginTransaction(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void commit(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void rollback(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void disconnect(const v8::FunctionCallbackInfo<v8::Value>& args);
  static void destry(const v8::FunctionCallbackInfo<v8::Value>& args);

  // Opens a client connection from the connection string: its answer, with
  // the handle in *conn on success. A record left by a failed open is closed.
  int open_client(VMC_Handle* conn);
  // query and querymany begin here: a connection that was ended, destroyed
  // or disconnected is refused, one that was never opened is opened (false
  // when either failed, thrown to the script), and the cursors left by
  // collected query objects are closed.
  bool open_implicitly(v8::Isolate* isolate);
  // Takes conn as the client connection (closing any earlier one): state 1.
  void store_client(VMC_Handle conn);
  // The state after end, destry or disconnect (2, 3 or 5), which also ends
  // a connection that connect's callback has not yet taken.
  void mark_closed(uint32_t closed_state);
  // Frees the readers' results, the results left to close and the current
  // result, then closes the client connection. Without talking, open
  // cursors are left to close with the link.
  void close_client(bool talk = true);
  // Frees the results that collected query objects left to close.
  void close_collected(bool talk);
  // Frees the current result.
  void free_result();

  static v8::Persistent<v8::Function> constructor;

  char* conn_str;
  VMC_Handle p_conn = nullptr;
  VMC_Handle p_res = nullptr;
  uint32_t state = kNotConnected;
  // connect's callback runs before the connection it opened is taken: end()
  // there ends that one, and connect learns of a close made there from the
  // count of ends, destrys and disconnects.
  bool opening_ = false;
  uint32_t closes_ = 0;
  std::unordered_set<VMQuery*> readers_;
  std::vector<VMC_Handle> closing_;
};

// Frees a result and nulls the handle. Without talking, an open server cursor
// is left to close with its connection. A cursor that the server refuses to
// close does the same: the result is never kept for another try.
void release_result(VMC_Handle* result, bool talk);

// Calls back with null when code is 0 or above, else with the message.
void call_status_callback(int code, v8::Local<v8::Function> callback, v8::Isolate* isolate, const char* message);
// What scripts are told when the link to the server is gone.
inline constexpr char kLinkClosed[] = "[EJ1024] database connection is closed";

// The connection's current error text; empty when there is none.
std::string last_error_text(VMC_Handle conn);
// What a failed execution reports: kLinkClosed after a failure of the link,
// which leaves no text of its own, else the connection's error text.
std::string execution_error_text(int code, VMC_Handle conn);

}  // namespace zorezu

#endif
