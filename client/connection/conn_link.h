// A connection's link opened, logged in and opened again with the record's
// settings; what the link answers becomes the connection's texts and codes.
#ifndef RIZEZOVA_CLIENT_CONNECTION_CONN_LINK_H
#define RIZEZOVA_CLIENT_CONNECTION_CONN_LINK_H

#include "client/handles/conn.h"
#include "link/login.h"

// The login settings the record holds; the texts are views of its fields.
LoginSettings login_settings_of(Conn* conn);
// Connects to server_ip:port; true with a socket, false without one.
bool conn_open_socket(Conn* conn);
// Logs in on the connected socket: true with state 1; false with the error
// text set and the socket closed. The protocol level the server answered with
// becomes the record's version.
bool conn_login(Conn* conn);
// Re-opens the link and logs in again: RC_RECONNECTED, RC_SOCKET_FAILED or
// RC_LOGIN_FAILED, each failure with its text.
int conn_reconnect(Conn* conn);

#endif
