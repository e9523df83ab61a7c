// Opening and closing the TCP link. POSIX sockets need no start-up of their own.
#ifndef RIZEZOVA_LINK_SOCKET_LINK_H
#define RIZEZOVA_LINK_SOCKET_LINK_H

#include <cstdint>

#include "link/link.h"

// Connects to server_ip (dotted IPv4 text) and port, with the receive time-out
// applied when it is above 0; true with sock set, false with sock 0. The
// address the text names goes to *server_addr (all bits set when it names
// none). A socket already in the link is closed first. The new link starts
// clean: empty receive buffer and send queue, no given-back letter.
bool open_socket(Link* link, const char* server_ip, uint16_t port, int32_t recv_timeout_ms, uint32_t* server_addr);
// Closes the socket (sock 0), empties the receive buffer, the send queue and
// the given-back letter, and releases the keystream contexts. Every later read
// fails at once and every send fails.
void close_link(Link* link);

#endif
