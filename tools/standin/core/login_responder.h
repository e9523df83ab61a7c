// The server side of the login, for the stand-in server and the tests' peers.
// The server's end is a Link of its own (sock = the accepted socket), so the
// same framed readers and writers and keystream serve both ends.
#ifndef RIZEZOVA_STANDIN_LOGIN_RESPONDER_H
#define RIZEZOVA_STANDIN_LOGIN_RESPONDER_H

#include <cstdint>
#include <string>

#include "link/link.h"

namespace standin {

struct LoginRequest {
  bool encrypted = false;
  std::string text;          // the login text, padding removed
  uint8_t key[32] = {};      // the link key (encrypted link)
  uint32_t packet_bytes = 0; // bytes of the enciphered packet (encrypted link)
};

// A server-side link for an accepted socket; free with free_server_link.
Link* make_server_link(int fd);
void free_server_link(Link* link);

// Reads the client's login. On the encrypted link this sends the server's two
// numbers, deciphers the packet and keys the link's ciphers, so everything
// after it passes through the keystream. False when the client went away or
// sent something that is not a login.
bool read_login(Link* link, LoginRequest* out);

// The three answers a server can give.
bool accept_login(Link* link);                               // 'K'
bool accept_login_with_level(Link* link, const uint8_t info[4]);  // 'N', 4 bytes, 'K'
bool refuse_login(Link* link, char letter, const std::string& why);

// Parses a value out of the login text: the text after `key` up to the next
// quote (quoted clauses) or blank; empty when the clause is absent.
std::string login_clause(const std::string& text, const std::string& key);

}  // namespace standin

#endif
