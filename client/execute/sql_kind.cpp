// The kind of a SQL statement by its first word.
#include <strings.h>

#include <cstring>

#include "client/vmc.h"

namespace {

// A SELECT runs through a server cursor only when it is a single statement:
// after its first ';' no more than a few characters (blanks, a line end) may follow.
constexpr size_t kSelectTailMax = 5;

}  // namespace

int VMC_GetSqlKind(const char* sql) {
  if (sql == nullptr) return SQL_KIND_OTHER;
  const char* p = sql;
  while (*p == ' ' || *p == '\n' || *p == '\r') ++p;

  // The first six characters decide; a word matches when the key equals it
  // exactly apart from case, so "MERGE " and "ALTER " need their blank.
  char key[10] = {};
  for (int i = 0; i < 6 && p[i] != '\0'; ++i) key[i] = p[i];

  if (strcasecmp(key, "SELECT") == 0) {
    const char* semi = std::strchr(sql, ';');
    return (semi == nullptr || std::strlen(semi) <= kSelectTailMax) ? SQL_KIND_SELECT : SQL_KIND_OTHER;
  }
  if (strcasecmp(key, "INSERT") == 0 || strcasecmp(key, "MERGE ") == 0 || strcasecmp(key, "REPLAC") == 0)
    return SQL_KIND_INSERT;
  if (strcasecmp(key, "UPDATE") == 0) return SQL_KIND_UPDATE;
  if (strcasecmp(key, "DELETE") == 0) return SQL_KIND_DELETE;
  if (strcasecmp(key, "CREATE") == 0) return SQL_KIND_CREATE;
  if (strcasecmp(key, "ALTER ") == 0) return SQL_KIND_ALTER;
  if (strncasecmp(key, "EXEC ", 5) == 0 || strncasecmp(key, "EXECUT", 6) == 0) return SQL_KIND_EXEC;
  // The library's own statement and cursor names; case-sensitive on purpose.
  if (std::strncmp(key, "STC", 3) == 0) return SQL_KIND_SELECT;
  return SQL_KIND_OTHER;
}
