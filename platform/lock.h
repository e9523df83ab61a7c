// A counting semaphore used as the connection lock: take waits without a
// time-out, release adds one permit. It is not re-entrant.
#ifndef RIZEZOVA_PLATFORM_LOCK_H
#define RIZEZOVA_PLATFORM_LOCK_H

#include <cstdint>

struct PlatformLock;

// A new semaphore holding `initial` permits, never more than `maximum`;
// null when it cannot be made.
PlatformLock* lock_create(int32_t initial, int32_t maximum);
// Waits until a permit is free and takes it. A null lock (a record whose
// open failed before it had one) is never waited on.
void lock_take(PlatformLock* lock);
// Gives one permit back; false when that would pass the maximum.
bool lock_release(PlatformLock* lock);
void lock_close(PlatformLock* lock);

#endif
