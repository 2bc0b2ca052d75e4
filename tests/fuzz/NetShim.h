#pragma once
// The fuzz targets' socket shim, put between the cores and the C library by
// the linker (--wrap of bind, connect, accept4 and recv). It owns nothing.
//
// - Stand-in ports: a bind to SIGNON_PORT or BROADCAST_PORT gets a port of
//   the system's choice instead, and a connect to one of those fixed ports
//   goes to the port that stands in for it (or is refused when none does).
//   So a fuzz run never takes the real ports and may run beside the tests.
// - Pieces: the stream under test receives its bytes at most one piece at a
//   time, as if each piece arrived on its own after the reader had taken the
//   one before. With pieces of any size this covers every way a stream can
//   arrive, and the run stays deterministic.
// - A hook called right after a connect to the sign-on stand-in, so that a
//   harness playing the server can accept and queue its side of the stream
//   before the blocking sign-on reads it, all on one thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The port (host order) standing in for fixedPort on sockets of type
// (SOCK_STREAM or SOCK_DGRAM); 0 if none.
std::uint16_t StandInPort(int type, std::uint16_t fixedPort);
// Let port (host order) stand in for fixedPort: for a socket the harness
// bound itself to play the other side.
void SetStandInPort(int type, std::uint16_t fixedPort, std::uint16_t port);

// The next stream that is accepted, or connected to the sign-on stand-in,
// receives its bytes in pieces of these sizes (empty pieces are skipped).
// Bytes beyond the last piece are received as they come.
void CutNextStream(const std::vector<std::size_t>& pieces);

// Called with the descriptor after each connect to the sign-on stand-in.
void SetConnectHook(std::function<void(int fd)> hook);

// Forget the pieces and the hook. Stand-ins stay: a later bind to a fixed
// port gets the same stand-in again when it is free.
void ResetNetShim();
