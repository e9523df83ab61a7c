#include "link/login.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link/link_cipher.h"
#include "link/mp_arith.h"
#include "link/wire_io.h"
#include "platform/crt_rand.h"
#include "platform/net.h"
#include "platform/os_random.h"

namespace {

constexpr char kRecvFailed[] = "[EC0195]Error when RECIEVING ,Net Recieve Error";
constexpr char kNoK[] = "[EC0196]Error Can't finish build connect ,Receives K failed";
constexpr char kTextTooLong[] = "[EC0194]Error when LOGIN ,login text too long";
constexpr char kBadServerNumbers[] = "[EC0193]Error when LOGIN ,unusable encryption values from server";
constexpr char kNoLinkKey[] = "[EC0192]Error when LOGIN ,no random source for the link key";
constexpr char kNoCipherMemory[] = "[EC0191]Error when LOGIN ,no memory for the link ciphers";

constexpr uint32_t kBlockBytes = 32;
constexpr uint32_t kBlockDigits = 8;
constexpr uint32_t kPieceBytes = 30;
constexpr uint8_t kPadByte = 0x07;

bool g_rand_seeded = false;

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
  template <size_t N>
  void add_field(const char (&field)[N]) {
    add(field, strnlen(field, N));
  }
};

template <size_t N>
bool not_empty(const char (&field)[N]) {
  return field[0] != '\0';
}

template <size_t N>
void add_quoted_clause(TextBuilder& b, const char* head, const char (&field)[N]) {
  if (!not_empty(field)) return;
  b.add(head);
  b.add_field(field);
  b.add("'");
}

// Reads up to n bytes straight from the socket; a closed or failed link ends
// the read early and leaves the rest of dst as it was.
void recv_raw(Conn* conn, uint8_t* dst, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    int got = net_recv(conn->sock, dst + done, n - done);
    if (got <= 0) return;
    done += static_cast<uint32_t>(got);
  }
}

void close_link(Conn* conn) {
  net_close(conn->sock);
  conn->sock = 0;
}

bool fail_login(Conn* conn, const char* text) {
  conn_set_error(conn, text);
  close_link(conn);
  free_link_ciphers(conn);
  return false;
}

// The server's answer to the login: 'K', or 'N', four bytes and 'K'.
bool finish_login(Conn* conn, uint8_t first) {
  if (first == 'K') {
    std::snprintf(conn->version, sizeof conn->version, "%s", "201");
    conn->state = 1;
    return true;
  }
  if (first == 'N') {
    std::snprintf(conn->version, sizeof conn->version, "%s", "301");
    uint8_t reply[32] = {};
    if (recv_bytes(conn, reply, 5) && reply[4] == 'K') {
      conn->state = 1;
      return true;
    }
  }
  // The server explains its refusal in a text; the caller gets our own.
  char* explanation = nullptr;
  recv_str(conn, &explanation);
  std::free(explanation);
  return fail_login(conn, kNoK);
}

bool login_plain(Conn* conn) {
  char text[kLoginBufSize] = {};
  if (!build_login_text(conn, false, text, sizeof text)) return fail_login(conn, kTextTooLong);
  net_send(conn->sock, text, std::strlen(text));
  uint8_t first = 0;
  if (!recv_bytes(conn, &first, 1)) return fail_login(conn, kRecvFailed);
  return finish_login(conn, first);
}

// The link key: 32 random bytes mixed with the password, kept below 2^255 as
// a little-endian number so that it fits under the server's modulus.
bool make_link_key(const Conn* conn, uint8_t (&key)[kLinkKeySize]) {
  if (!os_random_bytes(key, sizeof key)) return false;
  size_t plen = strnlen(conn->password, sizeof conn->password);
  for (size_t i = 0, j = 0; plen != 0 && i < sizeof key; ++i, j = (j + 1) % plen) {
    key[i] ^= static_cast<uint8_t>(conn->password[j]);
  }
  key[31] &= 0x7f;
  return true;
}

bool login_encrypted(Conn* conn) {
  free_link_ciphers(conn);
  conn->send_fill = 0;
  net_send(conn->sock, "~ssl~", 5);
  recv_raw(conn, conn->login_exponent, sizeof conn->login_exponent);
  recv_raw(conn, conn->login_modulus, sizeof conn->login_modulus);

  uint32_t exponent[kBlockDigits];
  mp_from_le_bytes(exponent, conn->login_exponent, kBlockDigits);
  if (mp_digits_used(exponent, kBlockDigits) == 0) return fail_login(conn, kBadServerNumbers);

  uint8_t buf[kLoginBufSize] = {};
  uint8_t key[kLinkKeySize];
  bool ok = false;
  const char* failure = nullptr;
  if (!make_link_key(conn, key)) {
    failure = kNoLinkKey;
  } else {
    std::memcpy(buf, key, sizeof key);
    char* text = reinterpret_cast<char*>(buf + kLinkKeySize);
    if (!build_login_text(conn, true, text, kMaxEncryptedLoginText + 1)) {
      failure = kTextTooLong;
    } else {
      pad_login_chunks(text);
      uint32_t l = static_cast<uint32_t>(std::strlen(text)) + 1;
      encrypt_login_block(conn, buf, l + kBlockBytes);
      uint32_t packet = kBlockBytes + kBlockBytes * ((l + kBlockBytes - 1) / kBlockBytes);
      net_send(conn->sock, buf, packet);
      if (!init_link_ciphers(conn, key, sizeof key)) {
        failure = kNoCipherMemory;
      } else {
        ok = true;
      }
    }
  }
  // The key lives on only inside the cipher contexts.
  explicit_bzero(key, sizeof key);
  explicit_bzero(buf, sizeof buf);
  if (!ok) return fail_login(conn, failure);

  uint8_t first = 0;
  recv_bytes(conn, &first, 1);  // a failed read leaves 0, which fails below
  return finish_login(conn, first);
}

}  // namespace

bool build_login_text(const Conn* conn, bool encrypted, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  TextBuilder b{out, cap};
  b.add("login database = ");
  b.add_field(conn->database);
  b.add(" user='");
  b.add_field(conn->user);
  b.add("' password='");
  b.add_field(conn->password);
  b.add("'");
  add_quoted_clause(b, " char_set = '", conn->char_set);
  add_quoted_clause(b, " iso_level = '", conn->iso_level);
  add_quoted_clause(b, " current_schema = '", conn->current_schema);
  add_quoted_clause(b, " compatible_mode = '", conn->compatible_mode);
  add_quoted_clause(b, " keyword_filter='", conn->keyword_filter);
  if (encrypted ? conn->lock_timeout > 0 : conn->lock_timeout != 0) {
    char clause[32];
    std::snprintf(clause, sizeof clause, " lock_timeout = %d", conn->lock_timeout);
    b.add(clause);
  }
  b.add(conn->auto_commit_off == 1 ? " auto_commit = 'off'" : " auto_commit = 'on'");
  if (conn->return_cursor_id_off != 1) b.add(" return_cursor_id  = 'on'");
  if (conn->lob_ret != 0) b.add(encrypted ? " lob_ret=descriptor" : " lob_ret  =descriptor");
  b.add(" version = '");
  b.add_field(conn->version);
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

void encrypt_login_block(Conn* conn, uint8_t* buf, uint32_t len) {
  uint32_t e[kBlockDigits], m[kBlockDigits], x[kBlockDigits], y[kBlockDigits];
  mp_from_le_bytes(e, conn->login_exponent, kBlockDigits);
  mp_from_le_bytes(m, conn->login_modulus, kBlockDigits);
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

uint32_t rand_range(uint32_t low, uint32_t range) {
  if (!g_rand_seeded) {
    crt_srand(crt_clock_ms() + static_cast<uint32_t>(std::time(nullptr)));
    int r = crt_rand();
    for (int i = 0; i < (r & 255); ++i) crt_rand();
    g_rand_seeded = true;
  }
  int v = crt_rand();
  return low + static_cast<uint32_t>(v / static_cast<double>(kCrtRandMax) * range);
}

bool login_database(Conn* conn) {
  return conn->use_ssl != 0 ? login_encrypted(conn) : login_plain(conn);
}
