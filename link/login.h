// The login handshake on a plain or an encrypted link.
#ifndef RIZEZOVA_LINK_LOGIN_H
#define RIZEZOVA_LINK_LOGIN_H

#include <cstddef>
#include <cstdint>

#include "client/conn.h"

constexpr size_t kLoginBufSize = 512;
constexpr size_t kLinkKeySize = 32;
// The longest login texts that fit the login buffer.
constexpr size_t kMaxPlainLoginText = kLoginBufSize - 1;
constexpr size_t kMaxEncryptedLoginText = 449;

// Logs in on the connected socket: true with state 1; false with the error
// text set and the socket closed.
bool login_database(Conn* conn);
// Builds the login text for the plain (encrypted = false) or the encrypted
// link into out; false when it does not fit in cap bytes with its terminator.
bool build_login_text(const Conn* conn, bool encrypted, char* out, size_t cap);
// Pads a NUL-terminated text in place: each full 30-byte piece is followed by
// 0x07 0x07. The bytes behind the text must be zero.
void pad_login_chunks(char* text);
// Enciphers len bytes in place, 32 at a time, by modular exponentiation with
// the server's two numbers; a short last piece becomes a whole block.
void encrypt_login_block(Conn* conn, uint8_t* buf, uint32_t len);
// low + a scaled draw of the process's small generator, seeded on first use.
uint32_t rand_range(uint32_t low, uint32_t range);

#endif
