// The login handshake on a plain or an encrypted link.
#ifndef RIZEZOVA_LINK_LOGIN_H
#define RIZEZOVA_LINK_LOGIN_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/link.h"

constexpr size_t kLoginBufSize = 512;
constexpr size_t kLinkKeySize = 32;
constexpr size_t kLoginNumberSize = 32;
// The longest login texts that fit the login buffer.
constexpr size_t kMaxPlainLoginText = kLoginBufSize - 1;
constexpr size_t kMaxEncryptedLoginText = 449;

// What a login is made of: the texts and switches of the login text, and
// where the server's two numbers of an encrypted login are kept.
struct LoginSettings {
  std::string_view database;
  std::string_view user;
  std::string_view password;
  std::string_view char_set;
  std::string_view iso_level;
  std::string_view current_schema;
  std::string_view compatible_mode;
  std::string_view keyword_filter;
  std::string_view version;
  int32_t lock_timeout;
  int32_t auto_commit_off;
  int32_t return_cursor_id_off;
  int32_t lob_ret;
  uint8_t* server_exponent;  // kLoginNumberSize bytes
  uint8_t* server_modulus;   // kLoginNumberSize bytes
};

// How a login ended.
enum class LoginOutcome {
  LoggedIn,
  RecvFailed,        // no answer came
  NoK,               // the answer was not the server's acceptance
  TextTooLong,       // the login text does not fit the login buffer
  BadServerNumbers,  // an exponent of zero: nothing can be enciphered with it
  NoLinkKey,         // no random source for the link key
  NoCipherMemory,    // the keystream contexts could not be had
};

// Logs in on the connected socket, on the encrypted link when use_ssl is not
// 0. Every outcome but LoggedIn closes the link. *reply_letter receives the
// letter that began the server's answer when it was 'K' (the older protocol
// level) or 'N', else 0.
LoginOutcome login_database(Link* link, const LoginSettings& settings, uint8_t* reply_letter);
// Builds the login text for the plain (encrypted = false) or the encrypted
// link into out; false when it does not fit in cap bytes with its terminator.
bool build_login_text(const LoginSettings& settings, bool encrypted, char* out, size_t cap);
// Pads a NUL-terminated text in place: each full 30-byte piece is followed by
// 0x07 0x07. The bytes behind the text must be zero.
void pad_login_chunks(char* text);
// Enciphers len bytes in place, 32 at a time, by modular exponentiation with
// the server's two numbers; a short last piece becomes a whole block.
void encrypt_login_block(const uint8_t* exponent, const uint8_t* modulus, uint8_t* buf, uint32_t len);

#endif
