// The connection lock as a counting semaphore over a mutex and a condition.
#include "platform/lock.h"

#include <condition_variable>
#include <mutex>
#include <new>

struct PlatformLock {
  std::mutex mutex;
  std::condition_variable freed;
  int32_t count;
  int32_t maximum;
};

PlatformLock* lock_create(int32_t initial, int32_t maximum) {
  if (initial < 0 || maximum <= 0 || initial > maximum) return nullptr;
  auto* lock = new (std::nothrow) PlatformLock;
  if (!lock) return nullptr;
  lock->count = initial;
  lock->maximum = maximum;
  return lock;
}

void lock_take(PlatformLock* lock) {
  if (!lock) return;
  std::unique_lock<std::mutex> guard(lock->mutex);
  lock->freed.wait(guard, [lock] { return lock->count > 0; });
  --lock->count;
}

bool lock_release(PlatformLock* lock) {
  if (!lock) return false;
  {
    std::lock_guard<std::mutex> guard(lock->mutex);
    if (lock->count >= lock->maximum) return false;
    ++lock->count;
  }
  lock->freed.notify_one();
  return true;
}

void lock_close(PlatformLock* lock) { delete lock; }
