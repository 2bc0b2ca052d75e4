#pragma once
// A listening TCP socket on 127.0.0.1, for playing the server's side of
// connections: its accepted ends are CLoopbackStreams. Owns its descriptor,
// not the streams it hands out.

#include <cstdint>

#include "LoopbackStream.h"

class CLoopbackListener {
public:
    // Listens on 127.0.0.1:port (host order; 0: a port the system picks),
    // reusing the address of connections that earlier tests closed.
    explicit CLoopbackListener(std::uint16_t port = 0);
    ~CLoopbackListener();
    CLoopbackListener(const CLoopbackListener&) = delete;
    CLoopbackListener& operator=(const CLoopbackListener&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    std::uint16_t Port() const { return m_nPort; }  // host order

    // The next connection, waiting up to waitMs for it; not open if none came.
    CLoopbackStream Accept(int waitMs) const;
    // Whether a connection waits to be accepted now.
    bool HasPending() const;

private:
    int m_fd;
    std::uint16_t m_nPort = 0;
};
