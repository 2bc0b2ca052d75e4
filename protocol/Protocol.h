#pragma once
// The numbers that travel on the wire between a server and its clients.
//
// Every value here is fixed by the peers already in the field: a server and
// a client built at different times must agree on each of them. Only append;
// never renumber or reuse a value.

#include <cstdint>

constexpr std::uint16_t SIGNON_PORT = 2050;     // TCP: one sign-on per connection
constexpr std::uint16_t BROADCAST_PORT = 2051;  // UDP: every chat datagram
constexpr std::uint8_t PROTOCOL_VERSION = 2;    // hello byte 0; also the accepting verdict
constexpr std::uint8_t VERDICT_REFUSED = 3;     // verdict of a server that refuses the version
constexpr std::uint8_t PING_PROBE = 5;          // first byte of the ping exchange

// Datagram types: the first byte of every datagram.
constexpr char HDR_NEW = 1;       // server: " <ping> <name>" of a user who signed on
constexpr char HDR_CHAT = 2;      // client: a typed line; server: a line to show
constexpr char HDR_LEAVE = 3;     // client: sign-off; server: the name of a user who left
constexpr char HDR_SHUTDOWN = 4;  // server: the server is going away
constexpr char HDR_PING = 5;      // server: a ping; client: its answer

// The hello and every datagram are received into buffers of this size, so the
// largest datagram is 511 bytes: type byte, at most 509 text bytes, zero byte.
constexpr int HELLO_RECEIVE_SIZE = 511;
constexpr int DATAGRAM_RECEIVE_SIZE = 511;
