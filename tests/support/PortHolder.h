#pragma once
// A port of this machine taken on every address for a test's length, as
// another program would take it, so that a server cannot have it. Owns its
// descriptor.

#include <cstdint>

class CPortHolder {
public:
    // type: SOCK_STREAM (then listening) or SOCK_DGRAM; port in host order.
    CPortHolder(int type, std::uint16_t port);
    ~CPortHolder();
    CPortHolder(const CPortHolder&) = delete;
    CPortHolder& operator=(const CPortHolder&) = delete;

    bool Held() const { return m_bHeld; }

private:
    int m_fd;
    bool m_bHeld = false;
};
