// A reply the client cannot follow to its end, or bytes that wait when a
// request is about to go out, put the link out of step with its replies:
// the link is closed, so that no later call answers with another's reply.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client/columns/lob_fetch.h"
#include "client/lob/lob.h"
#include "client/values/type_codes.h"
#include "client/vmc.h"
#include "link/link_cipher.h"
#include "platform/lock.h"
#include "tests/cpp/support/reply_bytes.h"
#include "tests/cpp/support/scripted_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame(const char* sql) { return ReplyBytes().letter('?').text(sql).u8(0).u32(0).bytes; }

// A client on a socket pair with its lock, as an open connection has it.
struct Client {
  testpeer::LinkPair link;
  VMC_Handle h = link.client;
  Client() {
    link.client->lock = lock_create(0, 2000000000);
    lock_release(link.client->lock);
  }
  ~Client() {
    VMC_ClearParams(&h);
    lock_close(link.client->lock);
  }
};

constexpr const char* kNext = "INSERT INTO t VALUES (1)";

}  // namespace

// A letter that a reader cannot follow: the call fails as a reply cut short
// does, whatever it had read, and the next call fails on the closed link
// without a word sent. The readers of result sets and values stop through
// the same reader as the first case; the short replies and the LOB pieces
// read letters their own way.
TEST(OutOfStep, ALetterNoReaderCanFollowClosesTheLink) {
  const struct {
    const char* what;
    ReplyBytes reply;
    std::function<int(VMC_Handle*, Conn*)> call;
  } cases[] = {
      {"a statement without rows", ReplyBytes().letter('U').u32(1).letter('Z').letter('K'),
       [](VMC_Handle* h, Conn*) { return VMC_ExecuteNoQuery(h, "UPDATE t SET a = 1"); }},
      {"the refusal of a CLOSE", ReplyBytes().letter('E').text("no").letter('Z').letter('K'),
       [](VMC_Handle* h, Conn*) { return VMC_CloseCursor(h, "C1"); }},
      {"a LOB's pieces", ReplyBytes().letter('A').u32(1).field("LOB", ST_CLOB).letter('Z').u32(1).text("x"),
       [](VMC_Handle*, Conn* conn) {
         VMC_Handle lob = nullptr;
         VMC_CreateLob(&lob);
         static_cast<LobObject*>(lob)->descriptor = strdup("C000000000001:9");
         const int rc = fetch_lob(conn, static_cast<LobObject*>(lob));
         VMC_FreeLob(&lob);
         return rc;
       }},
  };
  testing::internal::CaptureStdout();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Client client;
    client.link.peer_answer(c.reply.bytes);
    EXPECT_EQ(c.call(&client.h, client.link.client), RC_READ_FAILED);
    client.link.peer_read_available(20);
    client.link.peer_answer(ReplyBytes().letter('I').text("rid-9").letter('K').bytes);
    EXPECT_EQ(VMC_ExecuteNoQuery(&client.h, kNext), RC_READ_FAILED);
    EXPECT_TRUE(client.link.peer_read_available(20).empty());
  }
  testing::internal::GetCapturedStdout();
}

// Bytes that wait when a request is about to go out, in the receive buffer
// or on the socket, are no reply to it: the link is closed instead, and
// neither that call nor a later one reads them. A link in step goes on, on
// either kind of link: the check takes and deciphers nothing.
TEST(OutOfStep, BytesLeftBehindAReplyCloseTheLinkBeforeTheNextRequest) {
  struct Case {
    const char* what;
    bool encrypted;
    Bytes stray;     // behind the first reply
    bool later;      // written once the first reply was read, rather than with it
    int second;      // what the second call answers
  };
  const Case cases[] = {
      {"a letter behind the 'K'", false, {'Z'}, false, RC_READ_FAILED},
      {"a letter arriving after the reply was read", false, {'K'}, true, RC_READ_FAILED},
      {"nothing behind the reply", false, {}, false, 2},
      {"nothing behind the reply, encrypted", true, {}, false, 2},
  };
  const uint8_t key[32] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3,
                           2, 3, 8, 4, 6, 2, 6, 4, 3, 3, 8, 3, 2, 7, 9, 5};
  testing::internal::CaptureStdout();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Client client;
    Link server{};
    if (c.encrypted) {
      ASSERT_TRUE(init_link_ciphers(&client.link.client->link, key, sizeof key));
      client.link.client->link.use_ssl = 1;
      ASSERT_TRUE(init_link_ciphers(&server, key, sizeof key));
    }
    // The server's bytes in wire order, enciphered as it would send them,
    // and the client's requests as it reads them.
    auto wire = [&](Bytes bytes) {
      if (c.encrypted) cipher_send_bytes(&server, bytes.data(), static_cast<int>(bytes.size()));
      return bytes;
    };
    auto sent = [&] {
      Bytes bytes = client.link.peer_read_available(20);
      if (c.encrypted) cipher_recv_bytes(&server, bytes.data(), static_cast<int>(bytes.size()));
      return bytes;
    };
    Bytes first = ReplyBytes().letter('U').u32(1).letter('K').bytes;
    if (!c.later) first.insert(first.end(), c.stray.begin(), c.stray.end());
    client.link.peer_answer(wire(first));
    EXPECT_EQ(VMC_ExecuteNoQuery(&client.h, "UPDATE t SET a = 1"), 1);
    EXPECT_EQ(sent(), frame("UPDATE t SET a = 1"));
    if (c.later) {
      client.link.peer_write(wire(c.stray));
      pollfd pfd{static_cast<int>(client.link.client->link.sock), POLLIN, 0};
      ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    }

    client.link.peer_answer(wire(ReplyBytes().letter('U').u32(2).letter('K').bytes));
    EXPECT_EQ(VMC_ExecuteNoQuery(&client.h, kNext), c.second);
    if (c.second < 0) {
      EXPECT_TRUE(sent().empty()) << "the request never went out";
      EXPECT_EQ(VMC_ExecuteNoQuery(&client.h, kNext), RC_READ_FAILED);
    } else {
      EXPECT_EQ(sent(), frame(kNext));
    }
    free_link_ciphers(&server);
  }
  testing::internal::GetCapturedStdout();
}
