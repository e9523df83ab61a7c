// The connection object: construction, connect, end, destry and disconnect.
#include "src/vm_connection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/vmc_internal.h"
#include "src/script_util.h"
#include "src/vm_query.h"

namespace zorezu {

v8::Persistent<v8::Function> VMConnection::constructor;

namespace {

constexpr char kAlreadyOpen[] = "The Connection is already Opened !";
constexpr char kEndCalled[] = "The Connection has called .end()!";
constexpr char kDefaultPort[] = "5138";
constexpr size_t kErrorBufSize = 1024;

char* copy_text(const std::string& text) { return strndup(text.data(), text.size()); }

// A property's UTF-8 text when it is a string, else empty. False when the
// property getter threw.
bool text_property(v8::Isolate* isolate, v8::Local<v8::Object> options, const char* key, std::string* text) {
  v8::Local<v8::Value> value;
  if (!options->Get(isolate->GetCurrentContext(), key_string(isolate, key)).ToLocal(&value)) return false;
  *text = value->IsString() ? utf8_text(isolate, value) : std::string();
  return true;
}

bool port_property(v8::Isolate* isolate, v8::Local<v8::Object> options, std::string* port) {
  v8::Local<v8::Value> value;
  if (!options->Get(isolate->GetCurrentContext(), key_string(isolate, "port")).ToLocal(&value)) return false;
  if (value->IsUndefined()) {
    *port = kDefaultPort;
  } else if (value->IsString()) {
    *port = utf8_text(isolate, value);
  } else if (value->IsNumber()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", value.As<v8::Number>()->Value());
    *port = buf;
  } else {
    *port = "(null)";
  }
  return true;
}

// Why an option's text would not reach the connection record as it is once
// put into the connection string; empty when it would. A ';' would end its
// item and begin items of its own; the parser reads an item that holds
// "IPS=" or "ips=" anywhere as a list of server addresses; it trims blanks
// from both ends of a value and cuts a value to what it keeps; a zero byte
// would end the whole string. A ',' or '=' is carried: the string always
// holds ';', which then separates alone, and an item splits at its first '='.
std::string option_refusal(const std::string& text, size_t max) {
  if (text.find(';') != std::string::npos) return "holds ';'";
  if (text.find('\0') != std::string::npos) return "holds a zero byte";
  for (const char* list : {"IPS=", "ips="}) {
    if (text.find(list) != std::string::npos) return std::string("holds '") + list + "'";
  }
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return "begins or ends with a blank";
  if (text.size() > max) return "is longer than " + std::to_string(max) + " bytes";
  return {};
}

// "IP=...;Port=...;..." from an options object. False when a getter threw,
// or when a value could not go into the string as it is: a TypeError that
// names the option is thrown then.
bool options_conn_str(v8::Isolate* isolate, v8::Local<v8::Object> options, std::string* out) {
  std::string host, port, user, password, database, char_set;
  if (!text_property(isolate, options, "host", &host) || !port_property(isolate, options, &port) ||
      !text_property(isolate, options, "user", &user) || !text_property(isolate, options, "password", &password) ||
      !text_property(isolate, options, "database", &database) ||
      !text_property(isolate, options, "char_set", &char_set)) {
    return false;
  }
  const struct {
    const char* name;
    const std::string& text;
    size_t max;
  } values[] = {
      {"host", host, VMC_CONN_ADDRESS_MAX},        {"port", port, VMC_CONN_VALUE_MAX},
      {"user", user, VMC_CONN_VALUE_MAX},          {"password", password, VMC_CONN_VALUE_MAX},
      {"database", database, VMC_CONN_VALUE_MAX},  {"char_set", char_set, VMC_CONN_VALUE_MAX},
  };
  for (const auto& v : values) {
    const std::string refusal = option_refusal(v.text, v.max);
    if (!refusal.empty()) {
      throw_type_error(isolate, ("The args Error:" + std::string(v.name) + " " + refusal + " ").c_str());
      return false;
    }
  }
  *out = "IP=" + host + ";Port=" + port + ";Database=" + database + ";USER=" + user + ";PWD=" + password +
         ";CHAR_SET=" + char_set;
  return true;
}

// What a successful connect hands back: the client connection record's first
// bytes up to a zero, its handle type as a little-endian word.
v8::Local<v8::String> record_head(v8::Isolate* isolate, VMC_Handle conn) {
  char head[4];
  std::memcpy(head, conn, sizeof head);
  return utf8_string(isolate, head, strnlen(head, sizeof head));
}

}  // namespace

void VMConnection::Init(v8::Isolate* isolate) {
  struct Method {
    const char* name;
    v8::FunctionCallback callback;
  };
  // The prototype's methods in their order.
  const Method methods[] = {
      {"end", end},
      {"connect", connect},
      {"query", query},
      {"beginTransaction", beginTransaction},
      {"rollback", rollback},
      {"commit", commit},
      {"disconnect", disconnect},
      {"destry", destry},
      {"querymany", querymany},
  };
  v8::Local<v8::FunctionTemplate> tpl = v8::FunctionTemplate::New(isolate, New);
  tpl->SetClassName(key_string(isolate, "VMConnection"));
  tpl->InstanceTemplate()->SetInternalFieldCount(4);
  for (const Method& m : methods) {
    NODE_SET_PROTOTYPE_METHOD(tpl, m.name, m.callback);
  }
  constructor.Reset(isolate, tpl->GetFunction(isolate->GetCurrentContext()).ToLocalChecked());
}

void VMConnection::New(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  if (!args.IsConstructCall()) {
    NewInstance(args);
    return;
  }
  char* conn_str = nullptr;
  v8::Local<v8::Value> arg = args[0];
  if (arg->IsString()) {
    conn_str = copy_text(utf8_text(isolate, arg));
  } else if (arg->IsObject()) {
    std::string text;
    if (!options_conn_str(isolate, arg.As<v8::Object>(), &text)) return;
    conn_str = copy_text(text);
  }
  auto* self = new VMConnection(conn_str);
  self->Wrap(args.This());
  args.GetReturnValue().Set(args.This());
}

void VMConnection::NewInstance(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Value> argv[] = {args[0]};
  v8::Local<v8::Object> instance;
  if (constructor.Get(isolate)->NewInstance(isolate->GetCurrentContext(), 1, argv).ToLocal(&instance)) {
    args.GetReturnValue().Set(instance);
  }
}

VMConnection::~VMConnection() {
  // A connection object that goes away while open closes its client
  // connection; nothing else would. The garbage collector runs this, so its
  // cursors close with the link rather than one by one.
  close_client(false);
  std::free(conn_str);
}

void release_result(VMC_Handle* result, bool talk) {
  if (!*result) return;
  if (!talk) vmc_forget_cursor(result);
  if (VMC_FreeResult(result) == RC_ERROR) {
    vmc_forget_cursor(result);
    VMC_FreeResult(result);
  }
  *result = nullptr;
}

VMC_Handle VMConnection::begin_call() {
  close_collected(true);
  return p_conn;
}

int VMConnection::open_client(VMC_Handle* conn) {
  *conn = nullptr;
  const int rc = VMC_OpenConn(conn_str, conn);
  if (rc < 0 && *conn) VMC_CloseConn(conn);
  return rc;
}

bool VMConnection::open_implicitly(v8::Isolate* isolate) {
  if (state != kNotConnected && state != kOpen) {
    throw_type_error(isolate, "The Connection is Not Open!");
    return false;
  }
  if (state == kOpen) {
    close_collected(true);
    return true;
  }
  VMC_Handle conn = nullptr;
  if (open_client(&conn) < 0) {
    throw_type_error(isolate, "Connect to Database failed! connection params error or Server can't reach");
    return false;
  }
  store_client(conn);
  return true;
}

void VMConnection::store_client(VMC_Handle conn) {
  if (p_conn) close_client();
  p_conn = conn;
  p_res = nullptr;
  state = kOpen;
}

void VMConnection::mark_closed(uint32_t closed_state) {
  state = closed_state;
  opening_ = false;
  closes_++;
}

void VMConnection::free_result() { release_result(&p_res, true); }

void VMConnection::close_collected(bool talk) {
  for (VMC_Handle& result : closing_) release_result(&result, talk);
  closing_.clear();
}

void VMConnection::close_client(bool talk) {
  // Results that hold a server cursor go before the link they would close
  // it over.
  std::unordered_set<VMQuery*> readers;
  readers.swap(readers_);
  for (VMQuery* reader : readers) reader->connection_closed(talk);
  close_collected(talk);
  release_result(&p_res, talk);
  if (p_conn) VMC_CloseConn(&p_conn);
  p_conn = nullptr;
}

void VMConnection::connect(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  v8::Local<v8::Value> arg = args[0];
  VMC_Handle conn = nullptr;
  if (arg->IsUndefined()) {
    if (self->state == kOpen) return throw_type_error(isolate, kAlreadyOpen);
    if (self->state == kEnded || self->state == kDestroyed) return throw_type_error(isolate, kEndCalled);
    if (self->open_client(&conn) < 0) {
      throw_type_error(isolate, "Connect to Database failed! connection params error or Server can't reach 2");
      self->close_client();
      self->state = kNotConnected;
      return;
    }
  } else {
    const bool with_callback = arg->IsFunction();
    if (with_callback && (self->state == kOpen || self->state == kEnded || self->state == kDestroyed)) {
      call_status_callback(-1, arg.As<v8::Function>(), isolate, self->state == kOpen ? kAlreadyOpen : kEndCalled);
      return;
    }
    const int rc = self->open_client(&conn);
    if (with_callback) {
      // The callback sees the connection as it was before this call, and
      // what it does there stands: a connection it opened (a query opens
      // one) is kept in place of this one, and a close it made holds.
      const uint32_t state = self->state;
      const VMC_Handle client = self->p_conn;
      const uint32_t closes = self->closes_;
      const bool opening = self->opening_;
      self->opening_ = rc >= 0;
      call_status_callback(rc, arg.As<v8::Function>(), isolate,
                           "Connect to Database failed! connection params error or Server can't reach 1");
      self->opening_ = opening && self->closes_ == closes;
      if (self->state != state || self->p_conn != client || self->closes_ != closes) {
        if (conn) VMC_CloseConn(&conn);
        if (self->state == kOpen) args.GetReturnValue().Set(record_head(isolate, self->p_conn));
        return;
      }
    }
    if (rc < 0) {
      self->close_client();
      self->state = kNotConnected;
      return;
    }
  }
  self->store_client(conn);
  args.GetReturnValue().Set(record_head(isolate, conn));
}

void VMConnection::end(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  if (self->state != kOpen && !self->opening_) {
    return throw_type_error(args.GetIsolate(), "The Connection is Not Open!");
  }
  self->close_client();
  self->mark_closed(kEnded);
}

void VMConnection::destry(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  self->close_client();
  std::free(self->conn_str);
  self->conn_str = nullptr;
  self->mark_closed(kDestroyed);
}

void VMConnection::disconnect(const v8::FunctionCallbackInfo<v8::Value>& args) {
  VMConnection* self = holder_of<VMConnection>(args);
  if (!self) return;
  if (self->state == kOpen) self->close_client();
  self->mark_closed(kDisconnected);
}

void call_status_callback(int code, v8::Local<v8::Function> callback, v8::Isolate* isolate, const char* message) {
  v8::Local<v8::Value> argv[] = {code >= 0 ? v8::Null(isolate).As<v8::Value>()
                                           : utf8_string(isolate, message, std::strlen(message)).As<v8::Value>()};
  call_back(isolate, callback, 1, argv);
}

std::string last_error_text(VMC_Handle conn) {
  const int length = VMC_GetErrorLength(&conn);
  const size_t size = std::max(kErrorBufSize, static_cast<size_t>(std::max(length, 0)) + 1);
  std::string buf(size, '\0');
  int len = 0;
  VMC_GetError(&conn, buf.data(), &len);
  buf.resize(strnlen(buf.c_str(), size));
  return buf;
}

std::string execution_error_text(int code, VMC_Handle conn) {
  return code == RC_READ_FAILED ? std::string(kLinkClosed) : last_error_text(conn);
}

}  // namespace zorezu
