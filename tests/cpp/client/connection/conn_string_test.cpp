#include "client/connection/conn_string.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/cpp/support/bare_conn.h"

namespace {

std::string address_list(int n) {
  std::string s = "IPS=";
  for (int i = 0; i < n; ++i) {
    if (i) s += ',';
    s += "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
  }
  return s;
}

}  // namespace

TEST(ConnString, RefusesTextsWithoutSeparatorOrTooShort) {
  BareConn c;
  EXPECT_FALSE(parse_conn_string("IP=10.0.0.1", c.conn));
  EXPECT_FALSE(parse_conn_string("A=1;", c.conn));
  EXPECT_FALSE(parse_conn_string(nullptr, c.conn));
  EXPECT_STREQ(c->server_ip, "");
  EXPECT_EQ(c->has_ips, 0);
  // Any separator makes a readable text, recognised keys or not.
  EXPECT_TRUE(parse_conn_string("nothing;known", c.conn));
}

TEST(ConnString, TrimsBlanksAndSplitsAtTheFirstEquals) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string(" IP = 10.0.0.1 ; PORT = 5138 ; DB=SYSTEM ;PWD=a=b;;USER ID=  \tx ", c.conn));
  EXPECT_STREQ(c->server_ip, "10.0.0.1");
  EXPECT_EQ(c->port, 5138);
  EXPECT_STREQ(c->database, "SYSTEM");
  EXPECT_STREQ(c->password, "a=b");
  EXPECT_STREQ(c->user, "\tx") << "only spaces are blanks";

  char key[kKeyValueBufSize];
  char value[kKeyValueBufSize];
  ASSERT_TRUE(split_key_value("   =   ", key, value));
  EXPECT_STREQ(key, "");
  EXPECT_STREQ(value, "");
  EXPECT_FALSE(split_key_value("no equals here", key, value));
}

TEST(ConnString, CommaSeparatesWhenThereIsNoSemicolon) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string("IP=1.1.1.1,PORT=5138", c.conn));
  EXPECT_STREQ(c->server_ip, "1.1.1.1");
  EXPECT_EQ(c->port, 5138);

  // The address list is cut at its first comma like any other item.
  BareConn d;
  ASSERT_TRUE(parse_conn_string("IPS=10.0.0.1,10.0.0.2,PORT=1", d.conn));
  ASSERT_NE(d->ips, nullptr);
  EXPECT_EQ(d->ips->ips_count, 1);
  EXPECT_EQ(d->port, 1);
}

TEST(ConnString, KeySynonymsAndValueWords) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string(
      "database=d;uid=u;password=p;server=10.1.1.1;character set=GBK;iso level=RC;current_schema=s;"
      "COMPATIBLE_MODE=m;KEYWORD_FILTER=k;lock timeout=-1;VERBOSE_MODE=7;USE SSL=Yes;AUTO_COMMIT=Off;"
      "RETURN CURSOR_ID=false;USE_SRVCURSOR=OFF;LOB_RET=off;time zone=+8;RETURN_ROWID=on",
      c.conn));
  EXPECT_STREQ(c->database, "d");
  EXPECT_STREQ(c->user, "u");
  EXPECT_STREQ(c->password, "p");
  EXPECT_STREQ(c->server_ip, "10.1.1.1");
  EXPECT_STREQ(c->char_set, "GBK");
  EXPECT_STREQ(c->iso_level, "RC");
  EXPECT_STREQ(c->current_schema, "s");
  EXPECT_STREQ(c->compatible_mode, "m");
  EXPECT_STREQ(c->keyword_filter, "k");
  EXPECT_EQ(c->lock_timeout, -1);
  EXPECT_EQ(c->verbose_mode, 7);
  EXPECT_EQ(c->link.use_ssl, 1);
  EXPECT_EQ(c->auto_commit_off, 1);
  EXPECT_EQ(c->return_cursor_id_off, 1);
  EXPECT_EQ(c->srvcursor_off, 1);
  EXPECT_EQ(c->lob_ret, 1) << "any LOB_RET value turns descriptors on";

  // Later items win; words other than off/false leave the feature on.
  ASSERT_TRUE(parse_conn_string("AUTO_COMMIT=no;use_ssl=1;PORT=abc", c.conn));
  EXPECT_EQ(c->auto_commit_off, 0);
  EXPECT_EQ(c->link.use_ssl, 0);
  EXPECT_EQ(c->port, 0);
  ASSERT_TRUE(parse_conn_string("PORT=70000;LOCK_TIMEOUT=99999999999999999999", c.conn));
  EXPECT_EQ(c->port, 70000 & 0xffff);
  EXPECT_EQ(c->lock_timeout, INT32_MAX);
}

TEST(ConnString, LongTextsAreCutToTheirFieldsAndLongItemsIgnored) {
  BareConn c;
  std::string s = "IP=" + std::string(40, '1') + ";USER=" + std::string(100, 'u') + ";DB=" +
                  std::string(120, 'd') + ";PWD=p" + std::string(130, 'x');
  ASSERT_TRUE(parse_conn_string(s.c_str(), c.conn));
  EXPECT_EQ(std::string(c->server_ip), std::string(31, '1'));
  EXPECT_EQ(std::string(c->user), std::string(63, 'u'));
  EXPECT_EQ(std::string(c->database), std::string(63, 'd'));
  EXPECT_STREQ(c->password, "") << "an item of 128 characters or more is ignored";
}

TEST(ConnString, AddressListItems) {
  BareConn c;
  ASSERT_TRUE(parse_conn_string("IPS=10.0.0.1,10.0.0.2,10.0.0.3;USER=u;iPs=9.9.9.9;x ips=1.2.3.4,", c.conn));
  ASSERT_EQ(c->has_ips, 1);
  ASSERT_NE(c->ips, nullptr);
  // The second list (from "x ips=...", read from its fifth character on)
  // replaced the first; "iPs=" is no list at all.
  EXPECT_EQ(c->ips->ips_count, 2);
  EXPECT_STREQ(c->ips->ips_addresses[0], "s=1.2.3.4");
  EXPECT_STREQ(c->ips->ips_addresses[1], "") << "empty pieces count";
  EXPECT_STREQ(c->user, "u");

  BareConn d;
  ASSERT_TRUE(parse_conn_string("IPS=10.0.0.1,10.0.0.2,10.0.0.3;USER=u", d.conn));
  ASSERT_EQ(d->ips->ips_count, 3);
  EXPECT_STREQ(d->ips->ips_addresses[2], "10.0.0.3");
  EXPECT_EQ(d->ips->ips_current, 0);
  EXPECT_EQ(d->ips->ips_remaining, 0);
  ASSERT_NE(d->ips->ips_failed, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(d->ips->ips_failed[i], nullptr);
}

TEST(ConnString, AddressListGrowsToAHundredAndRefusesMore) {
  for (int n : {20, 21, 100}) {
    BareConn c;
    ASSERT_TRUE(parse_conn_string((address_list(n) + ";DB=x").c_str(), c.conn));
    ASSERT_EQ(c->ips->ips_count, n);
    EXPECT_STREQ(c->ips->ips_addresses[n - 1], ("10.0.0." + std::to_string(n - 1)).c_str());
  }

  IpsList* list = static_cast<IpsList*>(alloc_zeroed(sizeof(IpsList)));
  std::string item = address_list(101);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(parse_ips_list(list, kIpsFirstCapacity, item.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "set ips error \n");
  EXPECT_EQ(list->ips_count, 99);
  EXPECT_EQ(list->ips_failed, nullptr);
  free_ips_list(list);

  BareConn c;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(parse_conn_string((address_list(150) + ";DB=x").c_str(), c.conn));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(c->has_ips, 1);
  EXPECT_EQ(c->ips->ips_count, 99);
  EXPECT_STREQ(c->database, "x");
}

TEST(ConnString, CopyOfAnAddressListForAWalk) {
  BareConn c;
  std::string addr40(40, '7');
  ASSERT_TRUE(parse_conn_string(("IPS=a,b," + addr40 + ";DB=x").c_str(), c.conn));
  EXPECT_EQ(std::string(c->ips->ips_addresses[2]), std::string(31, '7')) << "addresses fit server_ip";
  IpsList* copy = copy_ips_list(c->ips);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->ips_count, 3);
  EXPECT_EQ(copy->ips_remaining, 3);
  EXPECT_NE(copy->ips_addresses[0], c->ips->ips_addresses[0]);
  EXPECT_STREQ(copy->ips_addresses[1], "b");
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(copy->ips_failed[i], nullptr);
  free_ips_list(copy);
}
