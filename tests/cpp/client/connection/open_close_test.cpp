#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/handles/conn.h"
#include "client/connection/conn_string.h"
#include "client/vmc.h"
#include "tests/cpp/support/scripted_peer.h"

using testpeer::ScriptedPeer;

namespace {

constexpr const char* kEC011 = "[EC011]Error in build-connect Sock Failure";

// A port on 127.0.0.1 that is bound but never listens, so that connecting to
// it (on any of the loopback addresses) is refused at once.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~ClosedPort() { close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_;
};

std::string conn_string(const std::string& ip, uint16_t port, const std::string& more = "") {
  return "IP=" + ip + ";PORT=" + std::to_string(port) + ";DB=SYSTEM;USER=sys;PWD=pw" + more;
}

std::string ips_string(const std::string& list, uint16_t port, const std::string& more = "") {
  return "IPS=" + list + ";PORT=" + std::to_string(port) + ";DB=SYSTEM;USER=sys;PWD=pw" + more;
}

Conn* as_conn(VMC_Handle h) { return static_cast<Conn*>(h); }

// A peer that logs every client in and waits until it goes away.
void accept_logins(ScriptedPeer::Listener& l, int count, std::string* last_login = nullptr) {
  for (int i = 0; i < count; ++i) {
    auto c = l.accept();
    if (!c) return;
    standin::LoginRequest req = c->login_ok();
    if (last_login) *last_login = req.text;
    c->read_until_quiet(200);
  }
}

// A peer that refuses the next login with a text and waits until the client
// goes away.
void refuse_next_login(ScriptedPeer::Listener& l, const std::string& why) {
  auto c = l.accept();
  if (!c) return;
  standin::LoginRequest req;
  if (c->read_login(&req)) standin::refuse_login(c->link(), 'E', why);
  c->read_until_quiet(200);
}

}  // namespace

TEST(OpenConn, LogsInAndCloses) {
  std::string login;
  ScriptedPeer peer([&](ScriptedPeer::Listener& l) { accept_logins(l, 1, &login); });
  VMC_Handle h = nullptr;
  ASSERT_EQ(VMC_OpenConn(conn_string("127.0.0.1", peer.port(), ";LOCK_TIMEOUT=7;verbose_mode=3").c_str(), &h), 2);
  Conn* c = as_conn(h);
  EXPECT_EQ(c->handle_type, 1u);
  EXPECT_EQ(c->state, 1);
  EXPECT_STREQ(c->version, "201") << "the peer answered 'K'";
  EXPECT_NE(c->link.sock, 0);
  EXPECT_NE(c->lock, nullptr);
  EXPECT_EQ(c->lock_timeout, 7);
  EXPECT_EQ(c->verbose_mode, 3);
  EXPECT_EQ(c->recv_timeout, 1800000);
  EXPECT_EQ(c->error_text, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), -1);
  peer.join();
  EXPECT_EQ(login.rfind("login database = SYSTEM user='sys' password='pw' lock_timeout = 7", 0), 0u) << login;
}

TEST(OpenConn, FailedOpensLeaveARecordWithItsText) {
  // No separator: nothing is read, so the defaults stand and the socket fails.
  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConn("IP=127.0.0.1", &h), -8);
  ASSERT_NE(h, nullptr);
  Conn* c = as_conn(h);
  EXPECT_STREQ(c->error_text, kEC011);
  EXPECT_STREQ(c->server_ip, "");
  EXPECT_STREQ(c->version, "301");
  EXPECT_EQ(c->lock_timeout, 300);
  EXPECT_EQ(c->verbose_mode, 1);
  EXPECT_EQ(c->recv_timeout, 1800000);
  EXPECT_EQ(c->state, 123);
  EXPECT_EQ(c->link.sock, 0);
  EXPECT_NE(c->lock, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  EXPECT_EQ(h, nullptr);

  ClosedPort closed;
  EXPECT_EQ(VMC_OpenConn(conn_string("127.0.0.1", closed.port()).c_str(), &h), -8);
  EXPECT_STREQ(as_conn(h)->error_text, kEC011);
  VMC_FreeHandle(&h);
  EXPECT_EQ(h, nullptr);

  EXPECT_EQ(VMC_OpenConn(nullptr, &h), -1);
  EXPECT_EQ(h, nullptr);
}

TEST(OpenConn, ARecordWithoutALinkNeverUsesDescriptorZero) {
  // Standard input is a socket with input waiting, as in a child process
  // whose stdio is piped.
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  // A stray read gives up after a second rather than hanging the test.
  const timeval one_second{1, 0};
  ASSERT_EQ(setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &one_second, sizeof one_second), 0);
  const int saved_stdin = dup(0);
  ASSERT_EQ(dup2(pair[0], 0), 0);
  ASSERT_EQ(write(pair[1], "pending", 7), 7);
  timeval timeout_before{};
  socklen_t n = sizeof timeout_before;
  ASSERT_EQ(getsockopt(0, SOL_SOCKET, SO_RCVTIMEO, &timeout_before, &n), 0);

  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConn("IP=no.such.address;PORT=1;DB=d;USER=u;PWD=p", &h), -8);
  char value[64] = {};
  int type = 0, len = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(VMC_GetAttr(&h, 1, value, sizeof value, &type, &len), -4);
  EXPECT_EQ(VMC_ExecuteNoQuery(&h, "DELETE FROM t"), -4);
  EXPECT_EQ(VMC_Reconnect(&h), -8);
  EXPECT_EQ(VMC_ExecuteNoQuery(&h, "DELETE FROM t"), -4);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(VMC_CloseConn(&h), 0);

  char buf[16] = {};
  EXPECT_EQ(recv(pair[1], buf, sizeof buf, MSG_DONTWAIT), -1) << "nothing was written to standard input";
  EXPECT_EQ(recv(0, buf, sizeof buf, MSG_DONTWAIT), 7) << "nothing was read from it";
  timeval timeout_after{};
  n = sizeof timeout_after;
  ASSERT_EQ(getsockopt(0, SOL_SOCKET, SO_RCVTIMEO, &timeout_after, &n), 0);
  EXPECT_EQ(timeout_after.tv_sec, timeout_before.tv_sec) << "no option lands on it";

  if (saved_stdin >= 0) {
    dup2(saved_stdin, 0);
    close(saved_stdin);
  } else {
    close(0);
  }
  close(pair[0]);
  close(pair[1]);
}

TEST(OpenConn, RefusedLoginGivesEC012) {
  ScriptedPeer peer([](ScriptedPeer::Listener& l) { refuse_next_login(l, "no such user"); });
  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConn(conn_string("127.0.0.1", peer.port()).c_str(), &h), -9);
  ASSERT_NE(h, nullptr);
  Conn* c = as_conn(h);
  EXPECT_STREQ(c->error_text, "[EC012]Error in build-database-connect LOGIN database Failure");
  EXPECT_EQ(c->link.sock, 0) << "the login closes the socket";
  EXPECT_EQ(c->state, 123);

  char code[6];
  char message[256] = {};
  EXPECT_EQ(VMC_GetDiag(&h, code, message, nullptr), 0);
  EXPECT_EQ(std::string(code, 6), std::string("EC012\0", 6));
  EXPECT_STREQ(message, "Error in build-database-connect LOGIN database Failure");
  EXPECT_EQ(VMC_CloseConn(&h), 0);
}

TEST(OpenConn, EncryptedLoginAndCiphersReleasedOnClose) {
  ScriptedPeer peer([](ScriptedPeer::Listener& l) { accept_logins(l, 1); });
  VMC_Handle h = nullptr;
  ASSERT_EQ(VMC_OpenConn(conn_string("127.0.0.1", peer.port(), ";SSL=on").c_str(), &h), 2);
  EXPECT_NE(as_conn(h)->link.recv_cipher, nullptr);
  EXPECT_NE(as_conn(h)->link.send_cipher, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), 0);  // the leak check sees the ciphers go
}

TEST(Reconnect, LogsInAgainWithTheLevelTheLastLoginLeft) {
  std::string second_login;
  ScriptedPeer peer([&](ScriptedPeer::Listener& l) {
    accept_logins(l, 1);
    accept_logins(l, 1, &second_login);
    refuse_next_login(l, "go away");
  });
  VMC_Handle h = nullptr;
  ASSERT_EQ(VMC_OpenConn(conn_string("127.0.0.1", peer.port()).c_str(), &h), 2);
  EXPECT_EQ(VMC_Reconnect(&h), 1);
  EXPECT_EQ(VMC_Reconnect(&h), -9);
  EXPECT_STREQ(as_conn(h)->error_text, "[EC0198]Error when LOGIN database Failure");
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  peer.join();
  EXPECT_NE(second_login.find("version = '201'"), std::string::npos) << second_login;

  EXPECT_EQ(VMC_Reconnect(&h), -3);
  EXPECT_EQ(VMC_Reconnect(nullptr), -3);
}

TEST(OpenConnIps, FailedAddressesMoveOutInOrder) {
  ScriptedPeer peer([](ScriptedPeer::Listener& l) { accept_logins(l, 1); }, "127.0.0.2");
  std::string s = ips_string("127.0.0.1,127.0.0.2,127.0.0.3", peer.port(), ";LOCK_TIMEOUT=9;verbose_mode=0");

  // A walk the caller already holds: attempt 3 picks index 0 (.1, refused),
  // .3 takes its place; attempt 6 picks index 0 again (.3, refused); attempt
  // 9 leaves only .2.
  IpsList* list = nullptr;
  {
    IpsList parsed{};
    std::string item = "IPS=127.0.0.1,127.0.0.2,127.0.0.3";
    ASSERT_TRUE(parse_ips_list(&parsed, kIpsFirstCapacity, item.c_str()));
    list = copy_ips_list(&parsed);
    for (int i = 0; i < parsed.ips_count; ++i) std::free(parsed.ips_addresses[i]);
    std::free(parsed.ips_addresses);
    std::free(parsed.ips_failed);
  }
  VMC_Handle h = nullptr;
  ASSERT_EQ(VMC_OpenConnIps(s.c_str(), 3, &list, &h), 0);
  Conn* c = as_conn(h);
  EXPECT_STREQ(c->server_ip, "127.0.0.2");
  EXPECT_EQ(c->state, 1);
  EXPECT_NE(c->lock, nullptr);
  EXPECT_EQ(c->error_text, nullptr);
  EXPECT_EQ(c->lock_timeout, 9);
  EXPECT_EQ(c->verbose_mode, 0);
  EXPECT_EQ(list->ips_remaining, 1);
  EXPECT_EQ(list->ips_current, 0);
  EXPECT_STREQ(list->ips_failed[0], "127.0.0.1");
  EXPECT_STREQ(list->ips_failed[1], "127.0.0.3");
  EXPECT_EQ(list->ips_failed[2], nullptr);
  EXPECT_STREQ(list->ips_addresses[0], "127.0.0.2");
  EXPECT_EQ(list->ips_addresses[1], nullptr);
  // The connection's own list is left as the string gave it.
  EXPECT_EQ(c->ips->ips_remaining, 0);
  EXPECT_STREQ(c->ips->ips_addresses[0], "127.0.0.1");

  EXPECT_EQ(VMC_CloseConn(&h), 0);
  EXPECT_EQ(VMC_FreeIpsList(&list), 0);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(VMC_FreeIpsList(&list), -1);
}

TEST(OpenConnIps, FreshWalkFromARandomAddress) {
  ScriptedPeer peer([](ScriptedPeer::Listener& l) { accept_logins(l, 1); }, "127.0.0.2");
  std::string s = ips_string("127.0.0.1,127.0.0.2,127.0.0.3", peer.port());
  IpsList* list = nullptr;
  VMC_Handle h = nullptr;
  ASSERT_EQ(VMC_OpenConnIps(s.c_str(), 0, &list, &h), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(as_conn(h)->server_ip, "127.0.0.2");
  int failed = 3 - list->ips_remaining;
  for (int i = 0; i < failed; ++i) {
    ASSERT_NE(list->ips_failed[i], nullptr);
    EXPECT_STRNE(list->ips_failed[i], "127.0.0.2");
  }
  EXPECT_EQ(list->ips_failed[failed], nullptr);
  EXPECT_STREQ(list->ips_addresses[list->ips_current], "127.0.0.2");
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  EXPECT_EQ(VMC_FreeIpsList(&list), 0);
}

TEST(OpenConnIps, EveryAddressFailing) {
  ClosedPort closed;
  std::string s = ips_string("127.0.0.1,127.0.0.2,127.0.0.3", closed.port());
  for (int attempt : {0, -2, -5}) {
    IpsList* list = nullptr;
    VMC_Handle h = nullptr;
    EXPECT_EQ(VMC_OpenConnIps(s.c_str(), attempt, &list, &h), -8) << attempt;
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(as_conn(h)->error_text, "[EC013]Error IPS Connect database Failed,sock build failure!\n");
    EXPECT_EQ(as_conn(h)->lock, nullptr) << "the lock comes only with a login";
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ips_remaining, 1);
    EXPECT_NE(list->ips_failed[1], nullptr);
    EXPECT_EQ(list->ips_failed[2], nullptr);

    // The next call on the same walk tries what is left, and fails again.
    VMC_Handle again = nullptr;
    EXPECT_EQ(VMC_OpenConnIps(s.c_str(), 4, &list, &again), -8);
    EXPECT_STREQ(as_conn(again)->server_ip, list->ips_addresses[0]);
    EXPECT_EQ(VMC_CloseConn(&again), 0);

    // attempt -1 starts a new walk over every address.
    EXPECT_EQ(VMC_OpenConnIps(s.c_str(), -1, &list, &again), -8);
    EXPECT_EQ(list->ips_remaining, 1);
    EXPECT_EQ(VMC_CloseConn(&again), 0);
    EXPECT_EQ(VMC_CloseConn(&h), 0);
    EXPECT_EQ(VMC_FreeIpsList(&list), 0);
  }
}

TEST(OpenConnIps, RefusesWhatItCannotWalk) {
  IpsList* list = nullptr;
  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConnIps(nullptr, 0, &list, &h), -3);
  EXPECT_EQ(h, nullptr);

  EXPECT_EQ(VMC_OpenConnIps("IP=127.0.0.1;PORT=1", 0, &list, &h), -3);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), 0);

  EXPECT_EQ(VMC_OpenConnIps("IPS=127.0.0.1;PORT=1", -1, &list, &h), -3);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(VMC_CloseConn(&h), 0);
}

TEST(OpenConnIps, LoginRefusedOnTheChosenAddress) {
  ScriptedPeer peer([](ScriptedPeer::Listener& l) { refuse_next_login(l, "locked"); }, "127.0.0.3");
  IpsList* list = nullptr;
  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConnIps(ips_string("127.0.0.3", peer.port()).c_str(), 0, &list, &h), -9);
  EXPECT_STREQ(as_conn(h)->error_text, "[EC014]IPS LOGIN database Failure,IP is 127.0.0.3  \n");
  EXPECT_EQ(VMC_CloseConn(&h), 0);
  EXPECT_EQ(VMC_FreeIpsList(&list), 0);
}

TEST(HandleOps, RowIdBuffersAndFreeing) {
  VMC_Handle h = nullptr;
  EXPECT_EQ(VMC_OpenConn("IP=127.0.0.1", &h), -8);
  std::snprintf(as_conn(h)->row_id, sizeof as_conn(h)->row_id, "AAAB12");
  char buf[40];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(VMC_GetRowId(&h, buf), 0);
  EXPECT_EQ(std::string(buf, 8), std::string("AAAB12\0#", 8));
  EXPECT_EQ(VMC_GetRowId(&h, nullptr), -3);
  uint32_t not_a_conn[4] = {4, 0, 0, 0};
  VMC_Handle other = not_a_conn;
  EXPECT_EQ(VMC_GetRowId(&other, buf), -3);
  EXPECT_EQ(VMC_CloseConn(&other), -3);

  // A LOB handle is no connection; nothing is freed and the variable stays.
  not_a_conn[0] = 7;
  VMC_FreeHandle(&other);
  EXPECT_EQ(other, static_cast<VMC_Handle>(not_a_conn));
  VMC_FreeHandle(&h);
  EXPECT_EQ(h, nullptr);
  VMC_FreeHandle(&h);
  VMC_FreeHandle(nullptr);

  void* made = std::malloc(16);
  VMC_FreeBuffer(&made);
  EXPECT_EQ(made, nullptr);
  VMC_FreeBuffer(&made);
  VMC_FreeBuffer(nullptr);
}
