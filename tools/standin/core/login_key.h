// The stand-in server's key pair for the encrypted login: the client raises
// each block to kLoginExponent modulo kLoginModulus, the server undoes it with
// kLoginPrivate. Digits are 32-bit, least significant first. The modulus has
// its top bit set, so every block the client can send is below it.
#ifndef RIZEZOVA_STANDIN_LOGIN_KEY_H
#define RIZEZOVA_STANDIN_LOGIN_KEY_H

#include <cstdint>

namespace standin {

constexpr uint32_t kLoginModulus[8] = {0xcd21102d, 0x7a9335a7, 0x1aa5fd39, 0xcde55338,
                                       0x892a7092, 0x1170c315, 0x77ef61a3, 0xd1b7cf41};
constexpr uint32_t kLoginExponent[8] = {0x00010001, 0, 0, 0, 0, 0, 0, 0};
constexpr uint32_t kLoginPrivate[8] = {0x4bd139a1, 0xdd3ad04d, 0x77878309, 0x443e674e,
                                       0x26f9216b, 0x4303db7e, 0x5515e4a7, 0x717cdf9a};

}  // namespace standin

#endif
