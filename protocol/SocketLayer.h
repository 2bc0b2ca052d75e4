#pragma once
// Start-up of the socket layer, once per process before any socket exists,
// and what the layer can tell of this machine's own addresses.

#include <netinet/in.h>

// Makes sure that a send on a stream the peer has closed can never kill the
// process (SIGPIPE is ignored). Failure flag: true if the layer is unusable.
[[nodiscard]] bool SocketLayerStartup();

// Whether address may be one of this machine's own. Only a local address can
// be bound, so a bind that fails for want of the address says it is not; when
// the question cannot be put at all (no descriptor left), it may well be.
[[nodiscard]] bool MayBeLocalAddress(in_addr address);
