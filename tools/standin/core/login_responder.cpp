#include "tools/standin/core/login_responder.h"

#include <cstdlib>
#include <cstring>

#include "link/link_cipher.h"
#include "link/mp_arith.h"
#include "link/reply_letters.h"
#include "link/socket_link.h"
#include "link/wire_io.h"
#include "platform/memory.h"
#include "platform/net.h"
#include "tools/standin/core/login_key.h"

namespace standin {

namespace {

constexpr size_t kMaxLoginBytes = 4096;

bool read_exact(int64_t sock, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    int got = net_recv(sock, dst + done, n - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool send_all(int64_t sock, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    int sent = net_send(sock, p, n);
    if (sent <= 0) return false;
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

void decipher_block(uint8_t block[32]) {
  uint32_t y[8], x[8], d[8], m[8];
  mp_from_le_bytes(y, block, 8);
  std::memcpy(d, kLoginPrivate, sizeof d);
  std::memcpy(m, kLoginModulus, sizeof m);
  mp_mod_exp(x, y, d, m, 8);
  mp_to_le_bytes(block, x, 8);
}

bool ends_with_version_clause(const std::string& text) {
  size_t at = text.rfind(" version = '");
  if (at == std::string::npos || text.back() != '\'') return false;
  return text.size() > at + std::strlen(" version = '");
}

// A plain login has neither length nor terminator: it ends with its version clause.
bool read_plain_login(Link* link, std::string first, LoginRequest* out) {
  std::string text = std::move(first);
  while (!ends_with_version_clause(text)) {
    if (text.size() > kMaxLoginBytes) return false;
    char chunk[512];
    int got = net_recv(link->sock, chunk, sizeof chunk);
    if (got <= 0) return false;
    text.append(chunk, static_cast<size_t>(got));
  }
  out->encrypted = false;
  out->text = text;
  return true;
}

bool read_encrypted_login(Link* link, LoginRequest* out) {
  uint8_t numbers[64];
  mp_to_le_bytes(numbers, kLoginExponent, 8);
  mp_to_le_bytes(numbers + 32, kLoginModulus, 8);
  if (!send_all(link->sock, numbers, sizeof numbers)) return false;

  uint8_t block[32];
  if (!read_exact(link->sock, block, sizeof block)) return false;
  decipher_block(block);
  std::memcpy(out->key, block, sizeof out->key);
  out->packet_bytes = 32;

  // Full text blocks carry 30 text bytes and two pad bytes; the block that
  // holds the terminator is the last.
  std::string text;
  for (;;) {
    if (out->packet_bytes > kMaxLoginBytes) return false;
    if (!read_exact(link->sock, block, sizeof block)) return false;
    out->packet_bytes += 32;
    decipher_block(block);
    const void* nul = std::memchr(block, 0, 30);
    if (nul) {
      text.append(reinterpret_cast<const char*>(block), static_cast<const uint8_t*>(nul) - block);
      break;
    }
    text.append(reinterpret_cast<const char*>(block), 30);
  }
  out->encrypted = true;
  out->text = text;
  link->use_ssl = 1;
  return init_link_ciphers(link, out->key, sizeof out->key);
}

}  // namespace

Link* make_server_link(int fd) {
  auto* link = static_cast<Link*>(alloc_zeroed(sizeof(Link)));
  if (!link) return nullptr;
  link->sock = fd;
  return link;
}

void free_server_link(Link* link) {
  if (!link) return;
  close_link(link);
  std::free(link);
}

bool read_login(Link* link, LoginRequest* out) {
  uint8_t head[5];
  if (!read_exact(link->sock, head, sizeof head)) return false;
  if (std::memcmp(head, "~ssl~", 5) == 0) return read_encrypted_login(link, out);
  // Anything else must be a plain login text, which starts with its first word.
  if (std::memcmp(head, "login", 5) != 0) return false;
  return read_plain_login(link, std::string(reinterpret_cast<char*>(head), sizeof head), out);
}

bool accept_login(Link* link) {
  const uint8_t end = REPLY_END;
  send_bytes(link, &end, 1);
  return send_flush(link) == 0;
}

bool accept_login_with_level(Link* link, const uint8_t info[4]) {
  const uint8_t level = REPLY_LOGIN_LEVEL;
  const uint8_t end = REPLY_END;
  send_bytes(link, &level, 1);
  send_bytes(link, info, 4);
  send_bytes(link, &end, 1);
  return send_flush(link) == 0;
}

bool refuse_login(Link* link, char letter, const std::string& why) {
  send_bytes(link, &letter, 1);
  send_int(link, static_cast<uint32_t>(why.size()));
  send_bytes(link, why.data(), static_cast<uint32_t>(why.size()));
  return send_flush(link) == 0;
}

std::string login_clause(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  char end = ' ';
  if (at < text.size() && text[at] == '\'') {
    end = '\'';
    ++at;
  }
  size_t stop = text.find(end, at);
  return text.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
}

}  // namespace standin
