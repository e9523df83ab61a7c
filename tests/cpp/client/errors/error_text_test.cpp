#include "client/errors/error_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "client/text/bounded_copy.h"
#include "tests/cpp/support/bare_conn.h"

namespace {

struct Diag {
  int rc;
  std::string code;  // all six bytes
  std::string message;
};

// VMC_GetDiag into buffers pre-filled with a marker, so that bytes written
// past what the call owns show up.
Diag diag_of(VMC_Handle* handle) {
  char code[7];
  char message[300];
  std::memset(code, '#', sizeof code);
  std::memset(message, '#', sizeof message);
  Diag d;
  d.rc = VMC_GetDiag(handle, code, message, nullptr);
  EXPECT_EQ(code[6], '#');
  d.code.assign(code, 6);
  d.message.assign(message, strcspn(message, "#"));
  return d;
}

}  // namespace

TEST(ErrorText, DiagSplitsFiveAndSixCharacterCodes) {
  BareConn c;
  conn_set_error(c.conn, "[EC011]Error in build-connect Sock Failure");
  Diag d = diag_of(&c.handle);
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.code, std::string("EC011\0", 6));
  EXPECT_EQ(d.message, "Error in build-connect Sock Failure");

  conn_set_error(c.conn, "[EC0103]connection attribute type get error,unknown attribute type\n");
  d = diag_of(&c.handle);
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.code, "EC0103");
  EXPECT_EQ(d.message, "connection attribute type get error,unknown attribute type\n");
}

TEST(ErrorText, UnbracketedTextsBecomeCommonErrors) {
  BareConn c;
  conn_set_error(c.conn, "table gone");
  Diag d = diag_of(&c.handle);
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.code, "EC0100");
  EXPECT_EQ(d.message, "common error\ntable gone");

  // 242 characters still fit behind the prefix (255 in all); 243 do not.
  std::string fits(242, 'a');
  ErrorRecord* r = make_error_record(fits.c_str());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->text_len, 255);
  EXPECT_EQ(r->long_len, 0);
  free_error_record(r);

  std::string too_long(243, 'a');
  r = make_error_record(too_long.c_str());
  EXPECT_STREQ(r->text, "common error\n");
  EXPECT_EQ(r->text_len, 13);
  EXPECT_EQ(r->long_len, 243);
  EXPECT_EQ(std::string(r->long_text), too_long);
  free_error_record(r);

  conn_set_error(c.conn, too_long.c_str());
  EXPECT_EQ(diag_of(&c.handle).rc, 2);
}

TEST(ErrorText, LongMessagesAreCutWithTheNote) {
  std::string message(292, 'm');
  std::string text = "[EC0103]" + message;  // 300 characters
  ErrorRecord* r = make_error_record(text.c_str());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->text_len, 227);
  EXPECT_EQ(std::string(r->text, 227), std::string(200, 'm') + " extern please call Option\n");
  EXPECT_EQ(r->long_len, 292);
  EXPECT_EQ(std::string(r->long_text), message);
  EXPECT_STREQ(r->note, kErrorCutNote);
  free_error_record(r);

  BareConn c;
  conn_set_error(c.conn, text.c_str());
  Diag d = diag_of(&c.handle);
  EXPECT_EQ(d.rc, 2);
  EXPECT_EQ(d.message.size(), 227u);

  // The cut starts at 262 characters for a 5-character code, 263 for 6.
  for (auto [prefix, whole, cut] : {std::tuple{"[EC011]", 261, false}, {"[EC011]", 262, true},
                                    {"[EC0103]", 262, false}, {"[EC0103]", 263, true}}) {
    std::string t = prefix + std::string(whole - std::strlen(prefix), 'x');
    ErrorRecord* e = make_error_record(t.c_str());
    EXPECT_EQ(e->long_len != 0, cut) << prefix << " " << whole;
    if (!cut) {
      EXPECT_EQ(e->text_len, whole - static_cast<int>(std::strlen(prefix)));
    }
    free_error_record(e);
  }
}

TEST(ErrorText, BracketedTextsShorterThanTheirCodeReadNothingBeyond) {
  struct Case {
    const char* text;
    std::string code;
  };
  for (const Case& k : {Case{"[", std::string(6, '\0')}, Case{"[EC01", std::string("EC01\0\0", 6)},
                        Case{"[EC011", std::string("EC011\0", 6)}, Case{"[EC011]", std::string("EC011\0", 6)},
                        Case{"[EC0103", "EC0103"}, Case{"[EC0103]", "EC0103"}}) {
    // An exact-size heap copy, so that reading past it trips the sanitizer.
    char* text = strdup(k.text);
    ErrorRecord* r = make_error_record(text);
    ASSERT_NE(r, nullptr) << k.text;
    EXPECT_EQ(r->text_len, 0) << k.text;
    EXPECT_EQ(std::string(r->code, 6), k.code) << k.text;
    free_error_record(r);
    std::free(text);
  }
  EXPECT_EQ(make_error_record(nullptr), nullptr);
}

TEST(ErrorText, HandlesWithoutTextsAndOfOtherTypes) {
  BareConn c;
  int len = 77;
  char buf[8] = "zzzzzzz";
  EXPECT_EQ(VMC_GetDiag(&c.handle, buf, buf, nullptr), 100);
  EXPECT_EQ(VMC_GetErrorLength(&c.handle), 0);
  EXPECT_EQ(VMC_GetError(&c.handle, buf, &len), 0);
  EXPECT_EQ(len, 77);
  EXPECT_STREQ(buf, "zzzzzzz");

  // A parameter set keeps texts that these calls do not read; type 3 is no
  // object at all.
  for (uint32_t type : {2u, 3u, 9u}) {
    uint32_t object[4] = {type, 0, 0, 0};
    VMC_Handle h = object;
    EXPECT_EQ(VMC_GetDiag(&h, buf, buf, nullptr), 0);
    EXPECT_EQ(VMC_GetError(&h, buf, &len), 0);
    EXPECT_EQ(VMC_GetErrorLength(&h), 0);
  }
  VMC_Handle null_handle = nullptr;
  EXPECT_EQ(VMC_GetDiag(&null_handle, buf, buf, nullptr), 0);
  EXPECT_EQ(VMC_GetDiag(nullptr, buf, buf, nullptr), 0);
  EXPECT_EQ(VMC_GetError(nullptr, buf, &len), 0);
  EXPECT_EQ(len, 77);
}

TEST(ErrorText, GetErrorCopiesWithoutTerminator) {
  BareConn c;
  conn_set_error(c.conn, "[EC011]abc");
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  int len = 0;
  EXPECT_EQ(VMC_GetErrorLength(&c.handle), 10);
  EXPECT_EQ(VMC_GetError(&c.handle, buf, &len), 0);
  EXPECT_EQ(len, 10);
  EXPECT_EQ(std::string(buf, 11), "[EC011]abc#");
  // Null outputs are skipped rather than written through.
  EXPECT_EQ(VMC_GetError(&c.handle, nullptr, nullptr), 0);
}

TEST(BoundedCopy, CutsToTheCapacityAndZeroFills) {
  char buf[12];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(copy_bounded(buf, 10, "0123456789"), -12);
  EXPECT_STREQ(buf, "012345678");
  EXPECT_EQ(buf[10], '#');
  EXPECT_EQ(copy_bounded(buf, 11, "0123456789"), 0);
  EXPECT_STREQ(buf, "0123456789");
  EXPECT_EQ(copy_bounded(buf, 4, "ab"), 0);
  EXPECT_EQ(std::memcmp(buf, "ab\0\0", 4), 0);
  EXPECT_EQ(copy_bounded(buf, 0, "ab"), -12);

  char out[8] = "abc";
  EXPECT_EQ(append_bounded(out, sizeof out, "defg"), 0);
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_EQ(append_bounded(out, sizeof out, "h"), -12);
  EXPECT_STREQ(out, "abcdefg");
  char full[3] = {'x', 'y', 'z'};
  EXPECT_EQ(append_bounded(full, sizeof full, "q"), -12);
  EXPECT_EQ(std::memcmp(full, "xyz", 3), 0);
}
