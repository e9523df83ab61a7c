// Framed, big-endian reading and writing on a link.
#include "link/wire_io.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "link/link_cipher.h"
#include "platform/memory.h"
#include "platform/net.h"

// A failed send call of the platform is the writers' failure as it stands.
static_assert(LINK_SEND_FAILED == kNetFailed);

namespace {

// A write above this size skips the send queue.
constexpr uint32_t kLargeWrite = 2048;
// Empty receives in a row before a plain link counts as gone (an encrypted
// link counts as gone after the first), and what recv_buffered answers then.
constexpr int kRecvTries = 3;
constexpr int kRecvTriesEnciphered = 1;
constexpr int kRecvGone = -1;

// Keystream applies to what we read whenever the link is encrypted; what we
// write passes through it only once the login has keyed the ciphers.
bool reads_enciphered(const Link* link) { return link->use_ssl != 0; }
bool writes_enciphered(const Link* link) { return link->use_ssl == 1 && link->recv_cipher != nullptr; }

template <size_t N>
void to_wire_order(uint8_t (&bytes)[N]) {
  if (host_is_little_endian) {
    for (size_t i = 0; i < N / 2; ++i) {
      uint8_t t = bytes[i];
      bytes[i] = bytes[N - 1 - i];
      bytes[N - 1 - i] = t;
    }
  }
}

template <typename T>
bool recv_value(Link* link, T* out) {
  uint8_t bytes[sizeof(T)];
  if (!recv_bytes(link, bytes, sizeof bytes)) return false;
  to_wire_order(bytes);  // the reversal is its own inverse
  std::memcpy(out, bytes, sizeof bytes);
  return true;
}

template <typename T>
int send_value(Link* link, T value) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof bytes);
  to_wire_order(bytes);
  return send_bytes(link, bytes, sizeof bytes);
}

template <typename T>
uint32_t put_value(uint8_t* buf, uint32_t* pos, T value) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof bytes);
  to_wire_order(bytes);
  return buf_put_bytes(buf, pos, bytes, sizeof bytes);
}

// A send that failed leaves the peer with part of a request and, on an
// encrypted link, our keystream ahead of the peer's: nothing sent after it
// could be read aright. The link is cut (the descriptor stays with whoever
// closes the link), so every later exchange fails at once instead.
int cut_link(Link* link) {
  net_shutdown(link->sock);
  link->send_fill = 0;
  return LINK_SEND_FAILED;
}

// Sends n bytes whole, in as many calls as the platform needs; the count sent
// (held at INT_MAX), or LINK_SEND_FAILED with the link cut.
int send_whole(Link* link, const void* data, size_t n) {
  const auto* at = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < n;) {
    const int rc = net_send(link->sock, at + done, n - done);
    if (rc <= 0) return cut_link(link);
    done += static_cast<size_t>(rc);
  }
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// Sends the whole queue and empties it whatever came of the send.
int send_queue(Link* link) {
  const auto fill = static_cast<size_t>(link->send_fill);
  link->send_fill = 0;
  return send_whole(link, link->send_buf, fill);
}

// Queues n bytes at the end of the send queue, enciphering them in place.
void queue_bytes(Link* link, const void* data, uint32_t n) {
  uint8_t* at = link->send_buf + link->send_fill;
  std::memcpy(at, data, n);
  if (writes_enciphered(link)) cipher_send_bytes(link, at, static_cast<int>(n));
  link->send_fill += static_cast<int32_t>(n);
}

}  // namespace

int recv_buffered(Link* link, uint8_t* dst, int n) {
  int left = link->recv_fill - link->recv_pos;
  if (left > n) {
    std::memcpy(dst, link->recv_buf + link->recv_pos, static_cast<size_t>(n));
    link->recv_pos += n;
    return n;
  }
  if (link->recv_fill != 0) {
    std::memcpy(dst, link->recv_buf + link->recv_pos, static_cast<size_t>(left));
    link->recv_fill = 0;
    link->recv_pos = 0;
    return left;
  }
  const bool enciphered = reads_enciphered(link);
  const int tries = enciphered ? kRecvTriesEnciphered : kRecvTries;
  int r = kNetFailed;
  for (int attempt = 0; attempt < tries && r <= 0; ++attempt) {
    r = net_recv(link->sock, link->recv_buf, sizeof link->recv_buf);
  }
  if (r <= 0) return kRecvGone;
  // Every byte passes through the buffer in wire order, so deciphering what
  // arrives, once, as it arrives, keeps the keystream in step with the wire:
  // the bytes handed out, read ahead or given back are plain from here on.
  if (enciphered) cipher_recv_bytes(link, link->recv_buf, r);
  if (r > n) {
    link->recv_fill = r;
    std::memcpy(dst, link->recv_buf, static_cast<size_t>(n));
    link->recv_pos = n;
    return n;
  }
  std::memcpy(dst, link->recv_buf, static_cast<size_t>(r));
  link->recv_fill = 0;
  link->recv_pos = 0;
  return r;
}

bool recv_bytes(Link* link, uint8_t* buf, uint32_t n) {
  if (n == 0) return true;
  uint32_t done = 0;
  if (link->pushback_letter != 0) {
    // A given-back letter was deciphered when it first arrived.
    buf[0] = link->pushback_letter;
    link->pushback_letter = 0;
    done = 1;
  }
  while (done < n) {
    const uint32_t want = n - done;
    const int got = recv_buffered(link, buf + done, want > 0x7fffffffu ? 0x7fffffff : static_cast<int>(want));
    if (got <= 0) return false;
    done += static_cast<uint32_t>(got);
  }
  return true;
}

bool recv_pending(const Link* link) {
  return link->pushback_letter != 0 || link->recv_fill != 0 || net_bytes_waiting(link->sock);
}

bool recv_char(Link* link, uint8_t* out) { return recv_value(link, out); }
bool recv_short(Link* link, uint16_t* out) { return recv_value(link, out); }
bool recv_int(Link* link, uint32_t* out) { return recv_value(link, out); }
bool recv_long(Link* link, uint64_t* out) { return recv_value(link, out); }
bool recv_float(Link* link, float* out) { return recv_value(link, out); }
bool recv_double(Link* link, double* out) { return recv_value(link, out); }

int recv_str(Link* link, char** out) {
  *out = nullptr;
  uint32_t len;
  if (!recv_int(link, &len)) return LINK_READ_FAILED;
  // Sizes are counted in signed 32 bits: a length whose terminator would not
  // fit is refused as unallocatable.
  if (len >= 0x7fffffffu) return LINK_NO_MEMORY;
  auto* text = static_cast<char*>(alloc_zeroed(static_cast<size_t>(len) + 1));
  if (!text) return LINK_NO_MEMORY;
  if (!recv_bytes(link, reinterpret_cast<uint8_t*>(text), len)) {
    std::free(text);
    return LINK_READ_FAILED;
  }
  text[len] = '\0';
  *out = text;
  return LINK_OK;
}

int send_bytes(Link* link, const void* data, uint32_t n) {
  if (n == 0) return LINK_OK;
  if (n > kLargeWrite) {
    const void* out = data;
    uint8_t* copy = nullptr;
    if (writes_enciphered(link)) {
      // The queue ahead of it is already enciphered; this copy follows it on
      // the wire, so it takes the keystream after the queue.
      copy = static_cast<uint8_t*>(std::malloc(n));
      // Without it the queue, enciphered already, cannot be followed.
      if (!copy) return cut_link(link);
      std::memcpy(copy, data, n);
      cipher_send_bytes(link, copy, static_cast<int>(n));
      out = copy;
    }
    int rc = send_queue(link);
    if (rc != LINK_SEND_FAILED) rc = send_whole(link, out, n);
    std::free(copy);
    return rc;
  }
  if (static_cast<uint32_t>(link->send_fill) + n < static_cast<uint32_t>(kSendBufSize)) {
    queue_bytes(link, data, n);
    return LINK_OK;
  }
  // The queue is full: send it, and queue the new bytes behind it unless
  // that send failed and cut the link.
  const int rc = send_queue(link);
  if (rc != LINK_SEND_FAILED) queue_bytes(link, data, n);
  return rc;
}

int send_short(Link* link, uint16_t value) { return send_value(link, value); }
int send_int(Link* link, uint32_t value) { return send_value(link, value); }
int send_long(Link* link, uint64_t value) { return send_value(link, value); }

int send_flush(Link* link) {
  if (link->send_fill == 0) return LINK_OK;
  return send_queue(link) == LINK_SEND_FAILED ? LINK_SEND_FAILED : LINK_OK;
}

uint32_t buf_put_bytes(uint8_t* buf, uint32_t* pos, const void* data, int n) {
  if (n <= 0) return *pos;
  std::memmove(buf + *pos, data, static_cast<size_t>(n));
  *pos += static_cast<uint32_t>(n);
  return *pos;
}

uint32_t buf_put_short(uint8_t* buf, uint32_t* pos, uint16_t value) { return put_value(buf, pos, value); }
uint32_t buf_put_int(uint8_t* buf, uint32_t* pos, uint32_t value) { return put_value(buf, pos, value); }
uint32_t buf_put_long(uint8_t* buf, uint32_t* pos, uint64_t value) { return put_value(buf, pos, value); }
