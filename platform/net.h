// The few socket calls the wire link makes, over POSIX sockets. A socket is
// held as a 64-bit value; 0 means none, and every call given none fails at
// once without touching descriptor 0.
#ifndef RIZEZOVA_PLATFORM_NET_H
#define RIZEZOVA_PLATFORM_NET_H

#include <cstddef>
#include <cstdint>

// The IPv4 address of a dotted text in network order (every form the classic
// address conversion takes, "127.1" included); all bits set when the text is
// not such an address. No name is looked up.
uint32_t net_inet_addr(const char* text);

// A socket value that names no socket.
constexpr int64_t kNoSocket = 0;
// What net_send and net_recv answer on an error.
constexpr int kNetFailed = -1;

// A new IPv4 stream socket, or kNoSocket when none could be made.
int64_t net_tcp_socket();
void net_close(int64_t sock);
// Ends the connection both ways: later sends fail and receives find its end.
// The descriptor stays open until net_close.
void net_shutdown(int64_t sock);

// Option setters; each answers whether the platform took the option.
bool net_set_reuseaddr(int64_t sock);
bool net_set_nodelay(int64_t sock);
bool net_set_keepalive(int64_t sock);
bool net_set_recv_timeout_ms(int64_t sock, int32_t ms);
// Closing the socket afterwards drops the connection at once with a reset.
bool net_set_linger_zero(int64_t sock);

// Connects to addr (network order) and port (host order).
bool net_connect_ipv4(int64_t sock, uint32_t addr, uint16_t port);

// One send call: the count sent, or kNetFailed. A peer that has gone away gives -1,
// never a signal.
int net_send(int64_t sock, const void* data, size_t n);
// One receive call: the count received, 0 when the peer closed, kNetFailed on
// an error or the receive time-out.
int net_recv(int64_t sock, void* buf, size_t n);
// Whether received bytes wait to be read, looked at without taking any and
// without waiting; false also for no socket and on an error.
bool net_bytes_waiting(int64_t sock);

#endif
