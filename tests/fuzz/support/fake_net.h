// The fuzz targets' link: the socket calls of platform/net.h served from the
// fuzzer's input instead of a socket.
#ifndef RIZEZOVA_TESTS_FUZZ_SUPPORT_FAKE_NET_H
#define RIZEZOVA_TESTS_FUZZ_SUPPORT_FAKE_NET_H

#include <cstddef>
#include <cstdint>

namespace fuzz {

// The socket value of the one link.
constexpr int64_t kFakeSocket = 7;
// A peer that sends all its bytes before the client asks for any.
constexpr size_t kWhole = SIZE_MAX;

// The peer sends data[0, size) and then closes its end: all at once (kWhole)
// when the client's first request comes (a reader called without one finds
// them there), so that what the first reply leaves waits when the next
// request goes out; or `piece` bytes at most per receive call, each piece
// only when the client asks for it, as a server answers each request when it
// comes. The bytes must outlive the link.
void fake_net_serve(const uint8_t* data, size_t size, size_t piece);

}  // namespace fuzz

#endif
