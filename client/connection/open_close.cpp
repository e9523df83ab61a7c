// Opening, reconnecting and closing connection records.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "client/handles/conn.h"
#include "client/connection/conn_link.h"
#include "client/connection/conn_string.h"
#include "client/execute/prepared.h"
#include "client/handles/handle.h"
#include "client/params/param_set.h"
#include "client/results/result_life.h"
#include "client/results/result_set.h"
#include "client/text/bounded_copy.h"
#include "client/vmc.h"
#include "link/socket_link.h"
#include "platform/crt_rand.h"
#include "platform/lock.h"

namespace {

constexpr int32_t kDefaultLockTimeout = 300;
constexpr int32_t kDefaultVerboseMode = 1;
constexpr int32_t kDefaultRecvTimeoutMs = 1800000;
constexpr int32_t kStateOpening = 123;
constexpr int32_t kLockMaxCount = 2000000000;
constexpr const char* kFirstVersion = "301";

constexpr const char* kSockFailure = "[EC011]Error in build-connect Sock Failure";
constexpr const char* kLoginFailure = "[EC012]Error in build-database-connect LOGIN database Failure";
constexpr const char* kIpsSockFailure = "[EC013]Error IPS Connect database Failed,sock build failure!\n";
constexpr const char* kIpsLoginFailure = "[EC014]IPS LOGIN database Failure,IP is %s  \n";

// Raised before every seeding of the address pick, so that two opens within
// the same second still start from different addresses.
uint32_t g_ips_seed_counter = 0;

// A new record in the caller's variable with the defaults that the
// connection string may override; null (and the variable null) when memory
// runs out.
Conn* new_conn(VMC_Handle* conn_var) {
  auto* conn = static_cast<Conn*>(alloc_zeroed(sizeof(Conn)));
  *conn_var = conn;
  if (!conn) return nullptr;
  conn->handle_type = static_cast<uint32_t>(HandleType::Conn);
  conn->lock_timeout = kDefaultLockTimeout;
  copy_bounded(conn->version, sizeof conn->version, kFirstVersion);
  conn->verbose_mode = kDefaultVerboseMode;
  return conn;
}

void reset_link_state(Conn* conn) {
  conn->link.pushback_letter = 0;
  conn->state = kStateOpening;
  conn->recv_timeout = kDefaultRecvTimeoutMs;
}

// The lock starts with no permit and is given its one permit at once.
bool create_conn_lock(Conn* conn) {
  conn->lock = lock_create(0, kLockMaxCount);
  if (!conn->lock) return false;
  lock_release(conn->lock);
  return true;
}

bool walkable(const IpsList* list) {
  return list->ips_addresses && list->ips_failed && list->ips_remaining >= 1 &&
         list->ips_remaining <= list->ips_count;
}

// Moves the address at `failed` out to ips_failed and closes the gap with the
// last live candidate.
void retire_address(IpsList* list, int32_t failed) {
  int32_t last = list->ips_remaining - 1;
  list->ips_failed[list->ips_count - list->ips_remaining] = list->ips_addresses[failed];
  if (failed != last) list->ips_addresses[failed] = list->ips_addresses[last];
  list->ips_addresses[last] = nullptr;
  --list->ips_remaining;
}

}  // namespace

extern "C" int VMC_OpenConn(const char* conn_str, VMC_Handle* conn_var) {
  if (!conn_str || !conn_var) return RC_ERROR;
  Conn* conn = new_conn(conn_var);
  if (!conn) return RC_ERROR;
  // A string that cannot be read leaves the defaults; the open then fails on
  // the socket, which is the error the caller gets to see.
  parse_conn_string(conn_str, conn);
  reset_link_state(conn);
  if (!create_conn_lock(conn)) return RC_ERROR;

  conn->link.sock = 0;
  if (!conn_open_socket(conn)) {
    conn_set_error(conn, kSockFailure);
    return RC_SOCKET_FAILED;
  }
  if (!conn_login(conn)) {
    conn_set_error(conn, kLoginFailure);
    return RC_LOGIN_FAILED;
  }
  return RC_OPEN_OK;
}

extern "C" int VMC_OpenConnIps(const char* conn_str, int attempt, IpsList** ips_var, VMC_Handle* conn_var) {
  if (!conn_str || !ips_var || !conn_var) return RC_INVALID_HANDLE;
  Conn* conn = new_conn(conn_var);
  if (!conn) return RC_ERROR;
  parse_conn_string(conn_str, conn);
  if (!conn->has_ips || !conn->ips || conn->ips->ips_count < 1) return RC_INVALID_HANDLE;
  if (attempt == -1 && !*ips_var) return RC_INVALID_HANDLE;

  // Wide enough that raising it by 3 per failed address cannot overflow.
  int64_t tries = attempt;
  bool list_made_here = false;
  for (;;) {
    IpsList* list;
    int32_t index;
    if (tries > 1 && *ips_var) {
      list = *ips_var;
      if (!walkable(list)) return RC_INVALID_HANDLE;
      index = static_cast<int32_t>(tries % list->ips_remaining);
    } else {
      if (tries == -1) {
        VMC_FreeIpsList(ips_var);
      } else if (list_made_here) {
        // Only a list this call made itself is dropped; one the caller held
        // when it asked for a fresh start is the caller's to free.
        free_ips_list(*ips_var);
        *ips_var = nullptr;
      }
      list = copy_ips_list(conn->ips);
      if (!list) return RC_ERROR;
      ++g_ips_seed_counter;
      crt_srand(static_cast<uint32_t>(std::time(nullptr)) + g_ips_seed_counter);
      index = crt_rand() % list->ips_count;
      *ips_var = list;
      list_made_here = true;
    }

    copy_bounded(conn->server_ip, sizeof conn->server_ip, list->ips_addresses[index]);
    list->ips_current = index;
    reset_link_state(conn);
    copy_bounded(conn->version, sizeof conn->version, kFirstVersion);
    conn->link.sock = 0;

    if (!conn_open_socket(conn)) {
      if (list->ips_remaining < 2) {
        conn_set_error(conn, kIpsSockFailure);
        return RC_SOCKET_FAILED;
      }
      retire_address(list, index);
      conn_set_error(conn, nullptr);
      tries += 3;
      continue;
    }
    if (!conn_login(conn)) {
      char text[sizeof conn->server_ip + 64];
      std::snprintf(text, sizeof text, kIpsLoginFailure, conn->server_ip);
      conn_set_error(conn, text);
      return RC_LOGIN_FAILED;
    }
    if (!create_conn_lock(conn)) return RC_ERROR;
    return RC_SUCCESS;
  }
}

extern "C" int VMC_Reconnect(VMC_Handle* conn_var) {
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;
  return conn_reconnect(conn);
}

extern "C" int VMC_CloseConn(VMC_Handle* conn_var) {
  if (!conn_var || !*conn_var) return RC_ERROR;
  Conn* conn = conn_of_handle(conn_var);
  if (!conn) return RC_INVALID_HANDLE;

  // Results read over the connection outlive it; their cursors go with the link.
  detach_conn_results(conn);
  // The reply of a FETCH sent ahead would answer the release of the prepared
  // statement; the server lets the statement go with the link anyway.
  if (conn->fetches_ahead != 0) close_link(&conn->link);
  release_pending_prepare(conn);
  close_link(&conn->link);
  if (conn->lock) {
    lock_close(conn->lock);
    conn->lock = nullptr;
  }
  conn_set_error(conn, nullptr);
  free_ips_list(conn->ips);
  conn->ips = nullptr;
  // The connection owns its current parameter set unless the caller does.
  if (conn->params && conn->params->mode != static_cast<uint32_t>(ParamSetMode::CallerOwned)) {
    release_param_set(conn->params);
  }
  conn->params = nullptr;
  free_result(conn->prepare_desc);
  conn->prepare_desc = nullptr;

  std::free(conn);
  *conn_var = nullptr;
  return RC_SUCCESS;
}

extern "C" int VMC_FreeIpsList(IpsList** ips_var) {
  if (!ips_var || !*ips_var) return RC_ERROR;
  free_ips_list(*ips_var);
  *ips_var = nullptr;
  return RC_SUCCESS;
}
