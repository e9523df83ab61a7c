// Bytes from the operating system's random source.
#include "platform/os_random.h"

#include <cerrno>
#include <sys/random.h>

bool os_random_bytes(void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}
