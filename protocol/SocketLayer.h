#pragma once
// Start-up of the socket layer, once per process before any socket exists.

// Makes sure that a send on a stream the peer has closed can never kill the
// process (SIGPIPE is ignored). Failure flag: true if the layer is unusable.
[[nodiscard]] bool SocketLayerStartup();
