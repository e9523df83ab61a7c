// Opening the TCP link of a connection record and re-opening an existing
// connection. POSIX sockets need no start-up of their own.
#ifndef RIZEZOVA_LINK_SOCKET_LINK_H
#define RIZEZOVA_LINK_SOCKET_LINK_H

#include "client/conn.h"

// Connects to server_ip:port; true with sock set, false with sock 0. A socket
// already in the record is closed first. The new link starts clean: empty
// receive buffer and send queue, no given-back letter.
bool open_socket(Conn* conn);
// Re-opens the link and logs in again: 1, -8 socket failure, -9 login failure.
int reconnect(Conn* conn);

#endif
