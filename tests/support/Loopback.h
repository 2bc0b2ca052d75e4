#pragma once
// Addresses of this machine for tests and benchmarks: 127.0.0.1 with a port,
// and whether a TCP port has a listener. Plain functions; nothing is owned.

#include <netinet/in.h>

#include <cstdint>

// 127.0.0.1 and port (host order) as a socket address.
sockaddr_in LoopbackAddress(std::uint16_t port);

// 127.0.0.1 in the address field alone, as the start-up hands the Connect
// dialog's address to the client: the client core fills in family and port.
sockaddr_in LoopbackAddressOnly();

// Whether something on this host listens on the TCP port (host order). Read
// from /proc/net/tcp, so that asking connects to nothing.
bool IsListening(std::uint16_t port);

// Whether fd is ready for events (POLLIN, POLLOUT) within waitMs. A signal
// that cuts the wait short (a fuzzer's timer) is waited out.
bool WaitReady(int fd, short events, int waitMs);
