// Framed, big-endian reading and writing on a connection's link: an 8192-byte
// send queue flushed explicitly, an 8192-byte receive buffer on a plain link,
// one given-back reply letter, and the link keystream applied in wire order on
// an encrypted link.
#ifndef RIZEZOVA_LINK_WIRE_IO_H
#define RIZEZOVA_LINK_WIRE_IO_H

#include <bit>
#include <cstdint>

#include "client/conn.h"

// 1 when the host keeps integers least significant byte first: a fact of the
// build, never written at run time.
inline constexpr uint8_t host_is_little_endian = std::endian::native == std::endian::little ? 1 : 0;

// Readers. recv_bytes: true when all n bytes arrived. The typed readers give 1
// with the value stored, 0 on failure with *out untouched.
bool recv_bytes(Conn* conn, uint8_t* buf, uint32_t n);
int recv_char(Conn* conn, uint8_t* out);
int recv_short(Conn* conn, uint16_t* out);
int recv_int(Conn* conn, uint32_t* out);
int recv_long(Conn* conn, uint64_t* out);
int recv_float(Conn* conn, float* out);
int recv_double(Conn* conn, double* out);
// A length-prefixed text: 0 with a new heap text (NUL-terminated) in *out; -4
// when the link failed; -5 when it could not be allocated. *out is null on failure.
int recv_str(Conn* conn, char** out);
// Plain link only: 1 to n bytes from the receive buffer, -1 when the link gave
// nothing in three tries.
int recv_buffered(Conn* conn, uint8_t* dst, int n);

// Writers. send_bytes: 0 when only queued, else the result of the last send
// call (-1 when it failed). send_flush: 0, or -1 when the send failed.
int send_bytes(Conn* conn, const void* data, uint32_t n);
int send_short(Conn* conn, uint16_t value);
int send_int(Conn* conn, uint32_t value);
int send_long(Conn* conn, uint64_t value);
int send_flush(Conn* conn);

// Builders of the same big-endian forms in a caller's buffer; each answers the
// new *pos. The caller sizes the buffer.
uint32_t buf_put_bytes(uint8_t* buf, uint32_t* pos, const void* data, int n);
uint32_t buf_put_short(uint8_t* buf, uint32_t* pos, uint16_t value);
uint32_t buf_put_int(uint8_t* buf, uint32_t* pos, uint32_t value);
uint32_t buf_put_long(uint8_t* buf, uint32_t* pos, uint64_t value);

#endif
