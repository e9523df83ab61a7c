// Connection strings read into a connection record, and the IPS address list.
#include "client/connection/conn_string.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/text/bounded_copy.h"
#include "client/vmc_internal.h"

namespace {

// Longest address kept: what fits server_ip with its terminator.
constexpr size_t kAddressMaxLen = sizeof(Conn::server_ip) - 1;

// What the module refuses to put into a connection string it makes is what
// is read here whole.
static_assert(VMC_CONN_ADDRESS_MAX == kAddressMaxLen);
static_assert(VMC_CONN_VALUE_MAX == kKeyValueBufSize - 1);
static_assert(VMC_CONN_VALUE_MAX < sizeof(Conn::user) && VMC_CONN_VALUE_MAX < sizeof(Conn::password) &&
              VMC_CONN_VALUE_MAX < sizeof(Conn::database) && VMC_CONN_VALUE_MAX < sizeof(Conn::char_set));

template <size_t N>
void set_text(char (&field)[N], const char* value) {
  copy_bounded(field, N, value);
}

// Leading white space, an optional sign and digits, as atoi reads them;
// anything else ends the number (a text without digits gives 0). Saturates
// instead of overflowing.
int32_t parse_decimal(const char* s) {
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = (*s++ == '-');
  int64_t n = 0;
  while (*s >= '0' && *s <= '9') {
    if (n <= INT32_MAX) n = n * 10 + (*s - '0');
    ++s;
  }
  if (negative) n = -n;
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

bool is_word(const char* value, const char* word) { return strcasecmp(value, word) == 0; }

// "off" or "false" turns the feature off, which the record keeps as 1.
int32_t off_flag(const char* value) { return is_word(value, "off") || is_word(value, "false"); }

struct KeyRow {
  const char* keys[4];
  void (*apply)(Conn* conn, const char* value);
};

// Rows in the order they are tried; the first row naming the key applies.
const KeyRow kKeyTable[] = {
    {{"DB", "DataBase"}, [](Conn* c, const char* v) { set_text(c->database, v); }},
    {{"USER", "UID", "USER ID", "USERID"}, [](Conn* c, const char* v) { set_text(c->user, v); }},
    {{"PWD", "PASSWORD"}, [](Conn* c, const char* v) { set_text(c->password, v); }},
    {{"PORT"}, [](Conn* c, const char* v) { c->port = static_cast<uint16_t>(parse_decimal(v)); }},
    {{"SERVER", "IP"}, [](Conn* c, const char* v) { set_text(c->server_ip, v); }},
    {{"AUTO_COMMIT", "auto commit", "autocommit"},
     [](Conn* c, const char* v) { c->auto_commit_off = off_flag(v); }},
    {{"verbose_mode"}, [](Conn* c, const char* v) { c->verbose_mode = parse_decimal(v); }},
    {{"use_ssl", "ssl", "USESSL", "USE SSL"},
     [](Conn* c, const char* v) {
       c->link.use_ssl = is_word(v, "on") || is_word(v, "yes") || is_word(v, "true") ? 1 : 0;
     }},
    {{"CHAR_SET", "CHARACTER_SET", "CHARSET", "CHARACTER SET"},
     [](Conn* c, const char* v) { set_text(c->char_set, v); }},
    {{"CURRENT_SCHEMA"}, [](Conn* c, const char* v) { set_text(c->current_schema, v); }},
    {{"COMPATIBLE_MODE"}, [](Conn* c, const char* v) { set_text(c->compatible_mode, v); }},
    {{"KEYWORD_FILTER"}, [](Conn* c, const char* v) { set_text(c->keyword_filter, v); }},
    {{"TIME_ZONE", "time zone", "timezone"}, [](Conn*, const char*) {}},
    {{"ISO_LEVEL", "ISO LEVEL", "ISOLEVEL"}, [](Conn* c, const char* v) { set_text(c->iso_level, v); }},
    {{"RETURN_ROWID", "RETURN ROWID", "RETURN ROW_ID", "RETURN_ROW_ID"}, [](Conn*, const char*) {}},
    {{"LOB_RET", "LOB RET", "LOBRET"}, [](Conn* c, const char*) { c->lob_ret = 1; }},
    {{"LOCKTIMEOUT", "LOCK TIMEOUT", "LOCK_TIMEOUT"},
     [](Conn* c, const char* v) { c->lock_timeout = parse_decimal(v); }},
    {{"RETURN_CURSOR_ID", "RETURN CURSOR_ID", "RETURN_CURSORID"},
     [](Conn* c, const char* v) { c->return_cursor_id_off = off_flag(v); }},
    {{"USE_SRVCURSOR"}, [](Conn* c, const char* v) { c->srvcursor_off = off_flag(v); }},
};

void apply_key(Conn* conn, const char* key, const char* value) {
  for (const KeyRow& row : kKeyTable) {
    for (const char* name : row.keys) {
      if (name && strcasecmp(key, name) == 0) {
        row.apply(conn, value);
        return;
      }
    }
  }
}

void apply_ips_item(Conn* conn, const char* item) {
  conn->has_ips = 1;
  auto* list = static_cast<IpsList*>(alloc_zeroed(sizeof(IpsList)));
  if (list) parse_ips_list(list, kIpsFirstCapacity, item);
  free_ips_list(conn->ips);
  conn->ips = list;
}

// Copies n characters at s, trimmed of blanks (spaces only) at both ends, into
// a zero-filled kKeyValueBufSize-byte buffer.
void copy_trimmed(char* out, const char* s, size_t n) {
  while (n > 0 && *s == ' ') {
    ++s;
    --n;
  }
  while (n > 0 && s[n - 1] == ' ') --n;
  copy_bounded_n(out, kKeyValueBufSize, s, n);
}

}  // namespace

bool split_key_value(const char* item, char* key, char* value) {
  const char* eq = std::strchr(item, '=');
  if (!eq) return false;
  copy_trimmed(key, item, static_cast<size_t>(eq - item));
  copy_trimmed(value, eq + 1, std::strlen(eq + 1));
  return true;
}

bool parse_conn_string(const char* text, Conn* conn) {
  if (!text || !conn) return false;
  size_t len = std::strlen(text);
  if (len < 5) return false;
  char sep;
  if (std::strchr(text, ';')) {
    sep = ';';
  } else if (std::strchr(text, ',')) {
    sep = ',';
  } else {
    return false;
  }

  char* copy = strdup(text);
  if (!copy) return false;
  char* end = copy + len;
  for (char* item = copy; item < end;) {
    char* stop = std::strchr(item, sep);
    if (!stop) stop = end;
    *stop = '\0';
    size_t item_len = static_cast<size_t>(stop - item);
    if (item_len > 0) {
      if (std::strstr(item, "IPS=") || std::strstr(item, "ips=")) {
        apply_ips_item(conn, item);
      } else if (item_len < kConnItemMaxLen) {
        char key[kKeyValueBufSize];
        char value[kKeyValueBufSize];
        if (split_key_value(item, key, value)) apply_key(conn, key, value);
      }
    }
    item = stop + 1;
  }
  std::free(copy);
  return true;
}

bool parse_ips_list(IpsList* list, int capacity, const char* item) {
  if (!list || !item) return false;
  if (capacity < 1 || capacity > kIpsMaxCapacity) capacity = kIpsFirstCapacity;
  // The addresses follow "IPS=".
  size_t item_len = std::strlen(item);
  const char* pos = item + (item_len < 4 ? item_len : 4);

  int room = capacity;
  list->ips_addresses = static_cast<char**>(alloc_zeroed(sizeof(char*) * static_cast<size_t>(room)));
  if (!list->ips_addresses) return false;

  for (;;) {
    const char* comma = std::strchr(pos, ',');
    size_t n = comma ? static_cast<size_t>(comma - pos) : std::strlen(pos);
    if (n > kAddressMaxLen) n = kAddressMaxLen;
    char* address = strndup(pos, n);
    if (!address) return false;
    list->ips_addresses[list->ips_count++] = address;
    if (!comma) break;
    pos = comma + 1;

    if (list->ips_count == kIpsMaxCapacity) {
      // A list this long is refused; the last address taken goes too.
      std::printf("set ips error \n");
      std::fflush(stdout);
      --list->ips_count;
      std::free(list->ips_addresses[list->ips_count]);
      list->ips_addresses[list->ips_count] = nullptr;
      return false;
    }
    if (list->ips_count == room) {
      auto* grown = static_cast<char**>(alloc_zeroed(sizeof(char*) * kIpsMaxCapacity));
      if (!grown) return false;
      std::memcpy(grown, list->ips_addresses, sizeof(char*) * static_cast<size_t>(room));
      std::free(list->ips_addresses);
      list->ips_addresses = grown;
      room = kIpsMaxCapacity;
    }
  }

  list->ips_failed = static_cast<char**>(alloc_zeroed(sizeof(char*) * static_cast<size_t>(list->ips_count)));
  return list->ips_failed != nullptr;
}

IpsList* copy_ips_list(const IpsList* src) {
  if (!src || src->ips_count < 1 || !src->ips_addresses) return nullptr;
  auto* list = static_cast<IpsList*>(alloc_zeroed(sizeof(IpsList)));
  if (!list) return nullptr;
  size_t count = static_cast<size_t>(src->ips_count);
  list->ips_addresses = static_cast<char**>(alloc_zeroed(sizeof(char*) * count));
  list->ips_failed = static_cast<char**>(alloc_zeroed(sizeof(char*) * (count + 1)));
  if (!list->ips_addresses || !list->ips_failed) {
    free_ips_list(list);
    return nullptr;
  }
  for (size_t i = 0; i < count; ++i) {
    list->ips_addresses[i] = strdup(src->ips_addresses[i] ? src->ips_addresses[i] : "");
    list->ips_count = static_cast<int32_t>(i + 1);
    if (!list->ips_addresses[i]) {
      free_ips_list(list);
      return nullptr;
    }
  }
  list->ips_remaining = list->ips_count;
  return list;
}

void free_ips_list(IpsList* list) {
  if (!list) return;
  for (int32_t i = 0; i < list->ips_count; ++i) {
    if (list->ips_addresses) std::free(list->ips_addresses[i]);
    if (list->ips_failed) std::free(list->ips_failed[i]);
  }
  std::free(list->ips_addresses);
  std::free(list->ips_failed);
  std::free(list);
}
