// The login handshake on a plain or an encrypted link.
#include "link/login.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/link_cipher.h"
#include "link/mp_arith.h"
#include "link/reply_letters.h"
#include "link/socket_link.h"
#include "link/wire_io.h"
#include "platform/net.h"
#include "platform/os_random.h"

namespace {

constexpr uint32_t kBlockBytes = 32;
constexpr uint32_t kBlockDigits = 8;
constexpr uint32_t kPieceBytes = 30;
constexpr uint8_t kPadByte = 0x07;

// Appends to a bounded text; remembers when anything did not fit.
struct TextBuilder {
  char* out;
  size_t cap;
  size_t len = 0;
  bool overflow = false;

  void add(const char* s, size_t n) {
    if (overflow || n >= cap - len) {
      overflow = true;
      return;
    }
    std::memcpy(out + len, s, n);
    len += n;
    out[len] = '\0';
  }
  void add(const char* s) { add(s, std::strlen(s)); }
  void add_field(std::string_view field) { add(field.data(), field.size()); }
};

void add_quoted_clause(TextBuilder& b, const char* head, std::string_view field) {
  if (field.empty()) return;
  b.add(head);
  b.add_field(field);
  b.add("'");
}

// Reads up to n bytes straight from the socket; a closed or failed link ends
// the read early and leaves the rest of dst as it was.
void recv_raw(Link* link, uint8_t* dst, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    int got = net_recv(link->sock, dst + done, n - done);
    if (got <= 0) return;
    done += static_cast<uint32_t>(got);
  }
}

LoginOutcome fail_login(Link* link, LoginOutcome outcome) {
  close_link(link);
  return outcome;
}

// The server's answer to the login: 'K', or 'N', four bytes and 'K'.
LoginOutcome finish_login(Link* link, uint8_t first, uint8_t* reply_letter) {
  if (first == REPLY_END) {
    *reply_letter = first;
    return LoginOutcome::LoggedIn;
  }
  if (first == REPLY_LOGIN_LEVEL) {
    *reply_letter = first;
    uint8_t reply[32] = {};
    if (recv_bytes(link, reply, 5) && reply[4] == REPLY_END) return LoginOutcome::LoggedIn;
  }
  // The server explains its refusal in a text; the caller gets our own.
  char* explanation = nullptr;
  recv_str(link, &explanation);
  std::free(explanation);
  return fail_login(link, LoginOutcome::NoK);
}

LoginOutcome login_plain(Link* link, const LoginSettings& settings, uint8_t* reply_letter) {
  char text[kLoginBufSize] = {};
  if (!build_login_text(settings, false, text, sizeof text)) return fail_login(link, LoginOutcome::TextTooLong);
  net_send(link->sock, text, std::strlen(text));
  uint8_t first = 0;
  if (!recv_bytes(link, &first, 1)) return fail_login(link, LoginOutcome::RecvFailed);
  return finish_login(link, first, reply_letter);
}

// The link key: 32 random bytes mixed with the password, kept below 2^255 as
// a little-endian number so that it fits under the server's modulus.
bool make_link_key(std::string_view password, uint8_t (&key)[kLinkKeySize]) {
  if (!os_random_bytes(key, sizeof key)) return false;
  const size_t plen = password.size();
  for (size_t i = 0, j = 0; plen != 0 && i < sizeof key; ++i, j = (j + 1) % plen) {
    key[i] ^= static_cast<uint8_t>(password[j]);
  }
  key[31] &= 0x7f;
  return true;
}

LoginOutcome login_encrypted(Link* link, const LoginSettings& settings, uint8_t* reply_letter) {
  free_link_ciphers(link);
  link->send_fill = 0;
  net_send(link->sock, "~ssl~", 5);
  recv_raw(link, settings.server_exponent, kLoginNumberSize);
  recv_raw(link, settings.server_modulus, kLoginNumberSize);

  uint32_t exponent[kBlockDigits];
  mp_from_le_bytes(exponent, settings.server_exponent, kBlockDigits);
  if (mp_digits_used(exponent, kBlockDigits) == 0) return fail_login(link, LoginOutcome::BadServerNumbers);

  uint8_t buf[kLoginBufSize] = {};
  uint8_t key[kLinkKeySize];
  LoginOutcome outcome = LoginOutcome::LoggedIn;
  if (!make_link_key(settings.password, key)) {
    outcome = LoginOutcome::NoLinkKey;
  } else {
    std::memcpy(buf, key, sizeof key);
    char* text = reinterpret_cast<char*>(buf + kLinkKeySize);
    if (!build_login_text(settings, true, text, kMaxEncryptedLoginText + 1)) {
      outcome = LoginOutcome::TextTooLong;
    } else {
      pad_login_chunks(text);
      uint32_t l = static_cast<uint32_t>(std::strlen(text)) + 1;
      encrypt_login_block(settings.server_exponent, settings.server_modulus, buf, l + kBlockBytes);
      uint32_t packet = kBlockBytes + kBlockBytes * ((l + kBlockBytes - 1) / kBlockBytes);
      net_send(link->sock, buf, packet);
      if (!init_link_ciphers(link, key, sizeof key)) outcome = LoginOutcome::NoCipherMemory;
    }
  }
  // The key lives on only inside the cipher contexts.
  explicit_bzero(key, sizeof key);
  explicit_bzero(buf, sizeof buf);
  if (outcome != LoginOutcome::LoggedIn) return fail_login(link, outcome);

  uint8_t first = 0;
  recv_bytes(link, &first, 1);  // a failed read leaves 0, which fails below
  return finish_login(link, first, reply_letter);
}

}  // namespace

bool build_login_text(const LoginSettings& settings, bool encrypted, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  TextBuilder b{out, cap};
  b.add("login database = ");
  b.add_field(settings.database);
  b.add(" user='");
  b.add_field(settings.user);
  b.add("' password='");
  b.add_field(settings.password);
  b.add("'");
  add_quoted_clause(b, " char_set = '", settings.char_set);
  add_quoted_clause(b, " iso_level = '", settings.iso_level);
  add_quoted_clause(b, " current_schema = '", settings.current_schema);
  add_quoted_clause(b, " compatible_mode = '", settings.compatible_mode);
  add_quoted_clause(b, " keyword_filter='", settings.keyword_filter);
  if (encrypted ? settings.lock_timeout > 0 : settings.lock_timeout != 0) {
    char clause[32];
    std::snprintf(clause, sizeof clause, " lock_timeout = %d", settings.lock_timeout);
    b.add(clause);
  }
  b.add(settings.auto_commit_off == 1 ? " auto_commit = 'off'" : " auto_commit = 'on'");
  if (settings.return_cursor_id_off != 1) b.add(" return_cursor_id  = 'on'");
  if (settings.lob_ret != 0) b.add(encrypted ? " lob_ret=descriptor" : " lob_ret  =descriptor");
  b.add(" version = '");
  b.add_field(settings.version);
  b.add("'");
  return !b.overflow;
}

void pad_login_chunks(char* text) {
  size_t n = std::strlen(text);
  for (size_t k = n / kPieceBytes; k >= 1; --k) {
    std::memmove(text + kBlockBytes * k, text + kPieceBytes * k, kPieceBytes);
    text[kBlockBytes * k - 2] = kPadByte;
    text[kBlockBytes * k - 1] = kPadByte;
  }
}

void encrypt_login_block(const uint8_t* exponent, const uint8_t* modulus, uint8_t* buf, uint32_t len) {
  uint32_t e[kBlockDigits], m[kBlockDigits], x[kBlockDigits], y[kBlockDigits];
  mp_from_le_bytes(e, exponent, kBlockDigits);
  mp_from_le_bytes(m, modulus, kBlockDigits);
  for (uint32_t pos = 0; pos < len; pos += kBlockBytes) {
    uint8_t block[kBlockBytes] = {};
    std::memcpy(block, buf + pos, len - pos < kBlockBytes ? len - pos : kBlockBytes);
    mp_from_le_bytes(x, block, kBlockDigits);
    mp_mod_exp(y, x, e, m, kBlockDigits);
    mp_to_le_bytes(buf + pos, y, kBlockDigits);
  }
  explicit_bzero(x, sizeof x);
  explicit_bzero(y, sizeof y);
}

LoginOutcome login_database(Link* link, const LoginSettings& settings, uint8_t* reply_letter) {
  *reply_letter = 0;
  return link->use_ssl != 0 ? login_encrypted(link, settings, reply_letter) : login_plain(link, settings, reply_letter);
}
