#include "client/connection/conn_attr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/connection/conn_string.h"
#include "client/values/type_codes.h"
#include "platform/lock.h"
#include "tests/cpp/support/bare_conn.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

struct Attr {
  int rc;
  int type;
  int len;
  std::string text;  // the bytes written, up to the first marker byte
};

Attr read_attr(Conn* conn, int id, int size = 0) {
  char buf[128];
  std::memset(buf, '#', sizeof buf);
  Attr a{0, -1, -1, {}};
  a.rc = get_conn_attr(conn, id, buf, size, &a.type, &a.len);
  a.text.assign(buf, strcspn(buf, "#"));
  return a;
}

int read_int_attr(Conn* conn, int id) {
  int32_t v = -7;
  int type = 0;
  int len = 0;
  EXPECT_EQ(get_conn_attr(conn, id, &v, 4, &type, &len), 0) << id;
  EXPECT_EQ(type, 2) << id;
  EXPECT_EQ(len, 4) << id;
  return v;
}

}  // namespace

TEST(ConnAttr, FixedTextsIgnoreTheConnectionString) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string("CHAR_SET=GBK;TIME_ZONE=+1;DB=sales", c.conn));
  Attr a = read_attr(c.conn, 4);
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.type, 1);
  EXPECT_EQ(a.len, 5);
  EXPECT_EQ(a.text, "UTF-8");
  a = read_attr(c.conn, 8);
  EXPECT_EQ(a.len, 5);
  EXPECT_EQ(a.text, "GTM+8");
  EXPECT_EQ(read_attr(c.conn, 5).text, "GBK");
  EXPECT_EQ(read_attr(c.conn, 2).text, "sales");
  EXPECT_EQ(read_int_attr(c.conn, 3), 2);
}

TEST(ConnAttr, AddressListAttribute) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string("DB=x;IPS=10.0.0.1,10.0.0.2", c.conn));
  Attr a = read_attr(c.conn, 7);
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.type, 1);
  EXPECT_EQ(a.text, "2:10.0.0.1,10.0.0.2");
  EXPECT_EQ(a.len, 19);

  // A caller's size bounds the copy; the length still tells the whole.
  a = read_attr(c.conn, 7, 6);
  EXPECT_EQ(a.text, "2:10.0");
  EXPECT_EQ(a.len, 19);

  // Addresses longer than the 15 characters of dotted IPv4 are listed whole.
  BareConn wide;
  std::string s = "DB=x;IPS=" + std::string(31, 'a') + "," + std::string(31, 'b');
  ASSERT_TRUE(parse_conn_string(s.c_str(), wide.conn));
  EXPECT_EQ(read_attr(wide.conn, 7).text, "2:" + std::string(31, 'a') + "," + std::string(31, 'b'));

  BareConn none;
  conn_set_error(none.conn, "before");
  a = read_attr(none.conn, 7);
  EXPECT_EQ(a.rc, -3);
  EXPECT_EQ(a.text, "");
  EXPECT_STREQ(none->error_text, "before");
}

TEST(ConnAttr, UnknownIdsLeaveTheirTexts) {
  BareConn c;
  for (int id : {0, 10, 13, -1}) {
    conn_set_error(c.conn, nullptr);
    EXPECT_EQ(read_attr(c.conn, id).rc, -3) << id;
    EXPECT_STREQ(c->error_text, "[EC0103]connection attribute type get error,unknown attribute type\n");
  }
  int v = 1;
  for (int id : {1, 5, 10}) {
    conn_set_error(c.conn, nullptr);
    EXPECT_EQ(set_conn_attr(c.conn, id, &v, 4), -3) << id;
    EXPECT_STREQ(c->error_text, "[EC0104]connection attribute type set error,un-supported attribute type\n");
  }
}

TEST(ConnAttr, AutoCommitAndServerCursorCanBeSet) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string("USE_SSL=on;LOB_RET=1", c.conn));
  EXPECT_EQ(read_int_attr(c.conn, 6), 1);
  EXPECT_EQ(read_int_attr(c.conn, 9), 1);

  // The whole text decides, whatever length the caller gave.
  const struct {
    const char* text;
    int len;
    int32_t on;
  } cases[] = {{"on", 0, 1},  {"off", 0, 0},  {"True", 0, 1}, {"ONE", 0, 0},
               {"TRUE", 2, 1}, {"ONX", 2, 0}, {"on", 9, 1},   {"", 0, 0}};
  for (const auto& k : cases) {
    c->auto_commit_off = 1 - k.on;
    EXPECT_EQ(set_conn_attr(c.conn, 11, k.text, k.len), 0) << k.text;
    EXPECT_EQ(read_int_attr(c.conn, 11), k.on) << k.text << " " << k.len;
  }

  int32_t off = 1;
  EXPECT_EQ(set_conn_attr(c.conn, 12, &off, 4), 0);
  EXPECT_EQ(read_int_attr(c.conn, 12), 1);
  EXPECT_EQ(set_conn_attr(c.conn, 12, nullptr, 4), -3);
  EXPECT_EQ(c->srvcursor_off, 1);
}

TEST(ConnAttr, ServerVersionIsAskedOfTheServer) {
  testpeer::LinkPair link;
  link.client->lock = lock_create(0, 2000000000);
  lock_release(link.client->lock);
  const std::vector<uint8_t> command = ReplyBytes().letter('?').text("show version").u8(0).u32(0).bytes;
  // The peer answers once it has read the whole command.
  // A row id first, when given, leaves its text in the answer area.
  auto answer = [&](const std::string& version, uint32_t type = ST_CHAR, const std::string& row_id = "") {
    return std::thread([&link, &command, version, type, row_id] {
      if (link.peer_read(command.size()) != command) return;
      ReplyBytes r;
      if (!row_id.empty()) r.letter('I').text(row_id);
      link.peer_write(r.letter('A').u32(1).field("version", type, 64).letter('R').text(version).letter('K').bytes);
    });
  };

  std::thread peer = answer("V3.1.4");
  Attr a = read_attr(link.client, 1);
  peer.join();
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.type, 1);
  EXPECT_EQ(a.len, 6);
  EXPECT_EQ(a.text, "V3.1.4");

  // A caller's size bounds the copy, as for every text attribute.
  peer = answer("V3.1.4");
  a = read_attr(link.client, 1, 2);
  peer.join();
  EXPECT_EQ(a.text, "V3");
  EXPECT_EQ(a.len, 6);

  // A version too long for the value's 64 bytes is cut there, not leaked.
  peer = answer(std::string(100, 'v'));
  char buf[80];
  std::memset(buf, '#', sizeof buf);
  int type = 0;
  int len = 0;
  EXPECT_EQ(get_conn_attr(link.client, 1, buf, 0, &type, &len), 0);
  peer.join();
  EXPECT_EQ(len, 64);
  EXPECT_EQ(std::string(buf, 65), std::string(64, 'v') + "#");

  // A server's own type code of 100 or more is no heap copy: what the area
  // holds is text.
  for (const uint32_t odd : {107u, 130u, 164u, 10005u}) {
    peer = answer("\x01\x02\x03\x04", odd, "RowId-1234567890");
    a = read_attr(link.client, 1);
    peer.join();
    EXPECT_EQ(a.rc, 0) << odd;
    EXPECT_EQ(a.text, "RowId-1234567890") << odd;
  }

  // A failed exchange answers the reader's code and gives the lock back.
  link.peer_close();
  EXPECT_EQ(read_attr(link.client, 1).rc, -4);
  lock_take(link.client->lock);
  lock_release(link.client->lock);
  lock_close(link.client->lock);
}
