#include "link/login.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <cstring>
#include <string>

#include "client/connection/conn_link.h"
#include "link/link_cipher.h"
#include "link/socket_link.h"
#include "link/wire_io.h"
#include "platform/net.h"
#include "tests/cpp/support/scripted_peer.h"

using testpeer::PeerConn;
using testpeer::ScriptedPeer;

namespace {

struct ConnDeleter {
  void operator()(Conn* c) const { testpeer::free_client_conn(c); }
};
using ConnPtr = std::unique_ptr<Conn, ConnDeleter>;

ConnPtr client(uint16_t port = 0) { return ConnPtr(testpeer::new_client_conn(port)); }

void set(char* field, size_t cap, const std::string& value) { std::snprintf(field, cap, "%s", value.c_str()); }
#define SET(conn, field, value) set((conn)->field, sizeof (conn)->field, value)

// The login text with room to spare, to measure texts beyond the limits too.
std::string text_of(Conn* c, bool encrypted) {
  char buf[2048] = {};
  EXPECT_TRUE(build_login_text(login_settings_of(c), encrypted, buf, sizeof buf));
  return buf;
}

}  // namespace

TEST(LoginText, ClausesInOrderOnBothLinks) {
  auto c = client();
  SET(c, database, "db1");
  SET(c, user, "sys");
  SET(c, password, "pw");
  EXPECT_EQ(text_of(c.get(), false),
            "login database = db1 user='sys' password='pw' lock_timeout = 300 auto_commit = 'on'"
            " return_cursor_id  = 'on' version = '301'");
  EXPECT_EQ(text_of(c.get(), true), text_of(c.get(), false));

  SET(c, char_set, "GBK");
  SET(c, iso_level, "RC");
  SET(c, current_schema, "s1");
  SET(c, compatible_mode, "pg");
  SET(c, keyword_filter, "kw");
  c->auto_commit_off = 1;
  c->return_cursor_id_off = 1;
  c->lob_ret = 1;
  SET(c, version, "201");
  const std::string head =
      "login database = db1 user='sys' password='pw' char_set = 'GBK' iso_level = 'RC' current_schema = 's1'"
      " compatible_mode = 'pg' keyword_filter='kw' lock_timeout = 300 auto_commit = 'off'";
  EXPECT_EQ(text_of(c.get(), false), head + " lob_ret  =descriptor version = '201'");
  EXPECT_EQ(text_of(c.get(), true), head + " lob_ret=descriptor version = '201'");
}

TEST(LoginText, LockTimeoutRulesDifferByLink) {
  auto c = client();
  c->lock_timeout = -1;
  EXPECT_NE(text_of(c.get(), false).find(" lock_timeout = -1 auto_commit"), std::string::npos);
  EXPECT_EQ(text_of(c.get(), true).find("lock_timeout"), std::string::npos);
  c->lock_timeout = 0;
  EXPECT_EQ(text_of(c.get(), false).find("lock_timeout"), std::string::npos);
  // auto-commit values other than 1 log in with auto-commit on
  c->auto_commit_off = 2;
  EXPECT_NE(text_of(c.get(), false).find("auto_commit = 'on'"), std::string::npos);
}

TEST(LoginText, TooLongTextsAreRefusedNotOverrun) {
  auto c = client();
  const size_t base = text_of(c.get(), false).size();
  // The database field holds 127 characters; grow the text through the
  // user and password fields to reach exactly the plain limit.
  std::string filler(kMaxPlainLoginText - base, 'x');
  SET(c, database, filler.substr(0, 127));
  SET(c, user, filler.substr(127, 63));
  SET(c, password, filler.substr(190, 63));
  SET(c, keyword_filter, filler.substr(253));
  const size_t len = text_of(c.get(), false).size();
  char buf[kLoginBufSize + 8];
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(build_login_text(login_settings_of(c.get()), false, buf, kLoginBufSize), len <= kMaxPlainLoginText);
  EXPECT_EQ(buf[kLoginBufSize], 'Z');
  EXPECT_FALSE(build_login_text(login_settings_of(c.get()), true, buf, kMaxEncryptedLoginText + 1));
}

TEST(LoginPadding, PiecesOfThirtyGainTwoPadBytes) {
  char buf[kLoginBufSize] = {};
  std::string text(100, 'a');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('A' + i % 26);
  std::memcpy(buf, text.data(), text.size());
  pad_login_chunks(buf);
  ASSERT_EQ(std::strlen(buf), 106u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(std::string(buf + 32 * k, 30), text.substr(30 * k, 30));
    EXPECT_EQ(buf[32 * k + 30], 7);
    EXPECT_EQ(buf[32 * k + 31], 7);
  }
  EXPECT_EQ(std::string(buf + 96), text.substr(90));

  char exact[kLoginBufSize] = {};
  std::memset(exact, 'q', 60);
  pad_login_chunks(exact);
  EXPECT_EQ(std::strlen(exact), 64u);  // no remainder piece, the terminator opens a new block
  char empty[kLoginBufSize] = {};
  pad_login_chunks(empty);
  EXPECT_EQ(empty[0], 0);
}

namespace {

// A server that reads a login and answers it; records what it saw.
struct LoginServer {
  standin::LoginRequest seen;
  bool got = false;
  std::unique_ptr<ScriptedPeer> peer;

  explicit LoginServer(std::function<void(PeerConn&)> answer) {
    peer = std::make_unique<ScriptedPeer>([this, answer](ScriptedPeer::Listener& l) {
      auto conn = l.accept();
      if (!conn) return;
      got = conn->read_login(&seen);
      if (got) answer(*conn);
    });
  }
  uint16_t port() const { return peer->port(); }
  void join() { peer->join(); }
};

}  // namespace

TEST(LoginPlain, AcceptedRefusedAndOldLevel) {
  LoginServer k([](PeerConn& p) { standin::accept_login(p.link()); });
  auto c = client(k.port());
  SET(c, database, "db");
  ASSERT_TRUE(conn_open_socket(c.get()));
  EXPECT_TRUE(conn_login(c.get()));
  k.join();
  EXPECT_STREQ(c->version, "201");
  EXPECT_EQ(c->state, 1);
  EXPECT_FALSE(k.seen.encrypted);
  // The next login of this record announces the level the server answered.
  EXPECT_EQ(k.seen.text, "login database = db user='' password='' lock_timeout = 300 auto_commit = 'on'"
                         " return_cursor_id  = 'on' version = '301'");

  const uint8_t info[4] = {0, 'K', 0xFF, 'N'};
  LoginServer n([&](PeerConn& p) { standin::accept_login_with_level(p.link(), info); });
  auto c2 = client(n.port());
  ASSERT_TRUE(conn_open_socket(c2.get()));
  EXPECT_TRUE(conn_login(c2.get()));
  n.join();
  EXPECT_STREQ(c2->version, "301");
  EXPECT_EQ(c2->state, 1);

  LoginServer no([](PeerConn& p) { standin::refuse_login(p.link(), 'E', "bad password"); });
  auto c3 = client(no.port());
  ASSERT_TRUE(conn_open_socket(c3.get()));
  EXPECT_FALSE(conn_login(c3.get()));
  no.join();
  EXPECT_STREQ(c3->error_text, "[EC0196]Error Can't finish build connect ,Receives K failed");
  EXPECT_EQ(c3->link.sock, 0);
  EXPECT_EQ(c3->state, 123);
}

TEST(LoginPlain, NWithoutClosingKOrNoAnswerFails) {
  LoginServer bad([](PeerConn& p) {
    const uint8_t reply[] = {'N', 1, 2, 3, 4, 'X', 0, 0, 0, 0};
    p.write_raw(reply, sizeof reply);
  });
  auto c = client(bad.port());
  ASSERT_TRUE(conn_open_socket(c.get()));
  EXPECT_FALSE(conn_login(c.get()));
  bad.join();
  EXPECT_STREQ(c->error_text, "[EC0196]Error Can't finish build connect ,Receives K failed");
  EXPECT_STREQ(c->version, "301");

  LoginServer silent([](PeerConn&) {});  // closes without a word
  auto c2 = client(silent.port());
  ASSERT_TRUE(conn_open_socket(c2.get()));
  EXPECT_FALSE(conn_login(c2.get()));
  silent.join();
  EXPECT_STREQ(c2->error_text, "[EC0195]Error when RECIEVING ,Net Recieve Error");
  EXPECT_EQ(c2->link.sock, 0);
}

TEST(LoginEncrypted, FullHandshakeThenTalkThroughTheKeystream) {
  std::string peer_got;
  uint32_t peer_int = 0;
  LoginServer s([&](PeerConn& p) {
    standin::accept_login(p.link());
    char* text = nullptr;
    if (recv_int(p.link(), &peer_int) && recv_str(p.link(), &text) == 0) peer_got = text;
    std::free(text);
    send_int(p.link(), 5);
    send_bytes(p.link(), "hello", 5);
    send_flush(p.link());
  });
  auto c = client(s.port());
  c->link.use_ssl = 1;
  SET(c, database, "enc");
  SET(c, user, "u");
  SET(c, password, "secret");
  c->lock_timeout = -1;
  c->lob_ret = 1;
  ASSERT_TRUE(conn_open_socket(c.get()));
  ASSERT_TRUE(conn_login(c.get())) << c->error_text;
  EXPECT_STREQ(c->version, "201");
  ASSERT_NE(c->link.send_cipher, nullptr);

  // Talk both ways: the client's writes and reads run on the keystream.
  send_int(&c->link, 0xCAFEF00D);
  send_int(&c->link, 3);
  send_bytes(&c->link, "abc", 3);
  ASSERT_EQ(send_flush(&c->link), 0);
  char* back = nullptr;
  ASSERT_EQ(recv_str(&c->link, &back), 0);
  EXPECT_STREQ(back, "hello");
  std::free(back);
  s.join();

  ASSERT_TRUE(s.got);
  EXPECT_TRUE(s.seen.encrypted);
  EXPECT_EQ(s.seen.text, "login database = enc user='u' password='secret' auto_commit = 'on'"
                         " return_cursor_id  = 'on' lob_ret=descriptor version = '301'");
  EXPECT_EQ(s.seen.key[31] & 0x80, 0) << "the link key must stay below the modulus";
  EXPECT_EQ(peer_int, 0xCAFEF00Du);
  EXPECT_EQ(peer_got, "abc");
}

TEST(LoginEncrypted, PacketSizesFollowThePadding) {
  // login text lengths: 100 characters pad to 106 bytes -> key block + 4 blocks;
  // 449 characters pad to 477 bytes -> the whole 512-byte buffer.
  for (auto [text_len, packet] : {std::pair<size_t, uint32_t>{100, 160}, {449, 512}}) {
    LoginServer s([](PeerConn& p) { standin::accept_login(p.link()); });
    auto c = client(s.port());
    c->link.use_ssl = 1;
    c->lock_timeout = 0;
    c->return_cursor_id_off = 1;
    const size_t base = text_of(c.get(), true).size();
    ASSERT_LE(base, text_len);
    std::string fill(text_len - base, 'd');
    SET(c, database, fill.substr(0, 127));
    if (fill.size() > 127) SET(c, current_schema, fill.substr(127, 63));
    if (fill.size() > 190) SET(c, compatible_mode, fill.substr(190, 63));
    if (fill.size() > 253) SET(c, keyword_filter, fill.substr(253, 63));
    if (fill.size() > 316) SET(c, iso_level, fill.substr(316));
    // Each non-empty optional field adds its clause's own characters; trim
    // the database name until the whole text has the length wanted.
    size_t now = text_of(c.get(), true).size();
    ASSERT_GE(now, text_len);
    SET(c, database, std::string(std::strlen(c->database) - (now - text_len), 'd'));
    const std::string sent = text_of(c.get(), true);
    ASSERT_EQ(sent.size(), text_len);
    ASSERT_TRUE(conn_open_socket(c.get()));
    ASSERT_TRUE(conn_login(c.get())) << c->error_text;
    s.join();
    EXPECT_EQ(s.seen.packet_bytes, packet) << text_len;
    EXPECT_EQ(s.seen.text, sent);
  }
}

TEST(LoginEncrypted, RefusalZeroExponentAndFreshKeys) {
  LoginServer no([](PeerConn& p) { standin::refuse_login(p.link(), 'E', "no"); });
  auto c = client(no.port());
  c->link.use_ssl = 1;
  ASSERT_TRUE(conn_open_socket(c.get()));
  EXPECT_FALSE(conn_login(c.get()));
  no.join();
  EXPECT_STREQ(c->error_text, "[EC0196]Error Can't finish build connect ,Receives K failed");
  EXPECT_EQ(c->link.recv_cipher, nullptr);
  EXPECT_EQ(c->link.send_cipher, nullptr);
  EXPECT_EQ(c->link.sock, 0);

  // A server whose exponent is zero: nothing may be enciphered with it.
  ScriptedPeer zero([](ScriptedPeer::Listener& l) {
    auto p = l.accept();
    if (!p) return;
    p->read_raw(5);
    uint8_t numbers[64] = {};
    numbers[32] = 0x35;
    p->write_raw(numbers, sizeof numbers);
    p->read_until_quiet(200);
  });
  auto z = client(zero.port());
  z->link.use_ssl = 1;
  ASSERT_TRUE(conn_open_socket(z.get()));
  EXPECT_FALSE(conn_login(z.get()));
  EXPECT_NE(std::string(z->error_text).find("[EC0193]"), std::string::npos);
  EXPECT_EQ(z->link.sock, 0);
  zero.join();

  // Each login draws a new key.
  uint8_t keys[2][32];
  for (auto& key : keys) {
    LoginServer s([](PeerConn& p) { standin::accept_login(p.link()); });
    auto k = client(s.port());
    k->link.use_ssl = 1;
    ASSERT_TRUE(conn_open_socket(k.get()));
    ASSERT_TRUE(conn_login(k.get()));
    s.join();
    std::memcpy(key, s.seen.key, 32);
  }
  EXPECT_NE(std::memcmp(keys[0], keys[1], 32), 0);
}

TEST(SocketLink, OpenReplacesTheOldLinkAndRefusesNames) {
  auto c = client(1);
  SET(c, server_ip, "localhost");
  const int64_t old = net_tcp_socket();
  c->link.sock = old;
  EXPECT_FALSE(conn_open_socket(c.get()));
  EXPECT_EQ(c->link.sock, 0);
  EXPECT_EQ(fcntl(static_cast<int>(old), F_GETFD), -1) << "the old socket must be closed";

  ScriptedPeer peer([](ScriptedPeer::Listener& l) { auto p = l.accept(); });
  auto d = client(peer.port());
  d->link.recv_fill = 10;
  d->link.recv_pos = 3;
  d->link.pushback_letter = 'K';
  d->link.send_fill = 9;
  ASSERT_TRUE(conn_open_socket(d.get()));
  EXPECT_GT(d->link.sock, 0);
  EXPECT_EQ(d->link.recv_fill, 0);
  EXPECT_EQ(d->link.pushback_letter, 0);
  EXPECT_EQ(d->link.send_fill, 0);
  peer.join();
  SET(d, server_ip, "127.0.0.1");
  d->port = 1;  // nothing listens there: the old socket is closed all the same
  EXPECT_FALSE(conn_open_socket(d.get()));
  EXPECT_EQ(d->link.sock, 0);
}

TEST(SocketLink, AddressesInEveryFormOfTheClassicConversion) {
  const struct {
    const char* text;
    uint32_t host_order;  // 0xFFFFFFFF: not an address
  } cases[] = {{"127.0.0.1", 0x7F000001},       {"127.1", 0x7F000001},     {"127.000.000.001", 0x7F000001},
               {"0x7f.0.0.1", 0x7F000001},      {"10.1.2", 0x0A010002},   {"localhost", 0xFFFFFFFF},
               {"256.1.1.1", 0xFFFFFFFF},       {"1.2.3.4.5", 0xFFFFFFFF}, {"", 0xFFFFFFFF}};
  for (const auto& k : cases) EXPECT_EQ(ntohl(net_inet_addr(k.text)), k.host_order) << k.text;

  ScriptedPeer peer([](ScriptedPeer::Listener& l) { auto p = l.accept(); });
  auto c = client(peer.port());
  SET(c, server_ip, "127.1");
  EXPECT_TRUE(conn_open_socket(c.get()));
  peer.join();
}

TEST(SocketLink, ReconnectReportsItsOwnTexts) {
  auto c = client(1);
  EXPECT_EQ(conn_reconnect(c.get()), -8);
  EXPECT_STREQ(c->error_text, "[EC0197]Error when RECONNECT Sock Failure");

  LoginServer no([](PeerConn& p) { standin::refuse_login(p.link(), 'E', "gone"); });
  c->port = no.port();
  EXPECT_EQ(conn_reconnect(c.get()), -9);
  no.join();
  EXPECT_STREQ(c->error_text, "[EC0198]Error when LOGIN database Failure");

  LoginServer yes([](PeerConn& p) { standin::accept_login(p.link()); });
  c->port = yes.port();
  EXPECT_EQ(conn_reconnect(c.get()), 1);
  yes.join();
  EXPECT_EQ(c->state, 1);
}
