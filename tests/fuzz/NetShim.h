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
//   one before, and then its end. With pieces of any size this covers every
//   way a stream can arrive, and the run stays deterministic.
//   A stream may also go on for ever, repeating its last bytes.
// - A hook called right after a connect to the sign-on stand-in, so that a
//   harness playing the server can accept and queue its side of the stream
//   before the blocking sign-on reads it, all on one thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The port (host order) standing in for fixedPort on sockets of type
// (SOCK_STREAM or SOCK_DGRAM); 0 if none.
std::uint16_t StandInPort(int type, std::uint16_t fixedPort);
// Let port (host order) stand in for fixedPort: for a socket the harness
// bound itself to play the other side.
void SetStandInPort(int type, std::uint16_t fixedPort, std::uint16_t port);

// The next stream that is accepted, or connected to the sign-on stand-in,
// receives its bytes in pieces of these sizes (empty pieces are skipped).
// After the last piece the stream reads as ended by its peer, as after a
// half-close; with ended false, further bytes are received as they come.
//
// The harness need never send a FIN of its own: whoever closes a connection
// first keeps its port in TIME_WAIT for a minute, and hundreds of thousands
// of those make every bind on the machine slow.
void CutNextStream(const std::vector<std::size_t>& pieces, bool ended = true);

// Once the pieces of that stream are used up, it receives these bytes over
// and over, straight from here and without end, as from a peer that never
// stops sending (empty: nothing more). Takes the place of ended.
void RepeatAfterPieces(std::string bytes);

// Bytes that stream has received so far, repeats included.
std::size_t CutStreamReceived();

// Called with the descriptor after each connect to the sign-on stand-in.
void SetConnectHook(std::function<void(int fd)> hook);

// Forget the pieces and the hook. Stand-ins stay: a later bind to a fixed
// port gets the same stand-in again when it is free.
void ResetNetShim();
