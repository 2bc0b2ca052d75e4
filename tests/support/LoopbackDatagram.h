#pragma once
// A datagram socket on 127.0.0.1 for playing a member, a stranger or the
// server from a test or a benchmark: sends to a port of this machine and
// collects what arrives, every wait bounded. Owns its descriptor.

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CLoopbackDatagram {
public:
    // What Next gives when nothing came in time.
    static constexpr const char* kNone = "<none>";

    // Bound to 127.0.0.1:port (host order; 0: a port the system picks), or
    // to pAddress (another address of this machine, such as "127.0.0.5") if
    // given, with room for every datagram one step of a test may bring.
    explicit CLoopbackDatagram(std::uint16_t port = 0, const char* pAddress = nullptr);
    ~CLoopbackDatagram();
    CLoopbackDatagram(const CLoopbackDatagram&) = delete;
    CLoopbackDatagram& operator=(const CLoopbackDatagram&) = delete;

    bool Bound() const { return m_bBound; }
    int Fd() const { return m_fd; }
    const sockaddr_in& Address() const { return m_addr; }
    std::uint16_t Port() const { return ntohs(m_addr.sin_port); }
    std::uint16_t PortNetworkOrder() const { return m_addr.sin_port; }

    // A receive buffer of bytes, past the system's cap where the process may
    // (root). True if even the capped size was refused.
    bool SetReceiveBuffer(int bytes) const;
    // Hear only 127.0.0.1:port from now on. True if it failed.
    bool Connect(std::uint16_t port) const;
    void Close();

    // One datagram to 127.0.0.1:port (host order), or to the server's
    // datagram port; bytes go as given, a zero byte only if they hold one.
    void SendTo(std::uint16_t port, std::string_view bytes) const;
    void SendToServer(std::string_view bytes) const;

    // The next datagram, whole; kNone if none came within waitMs.
    std::string Next(int waitMs = 2000) const;
    // The datagrams waiting, whole and in order. Waits up to waitMs for each
    // of the first `expect`; takes what else is there without waiting.
    std::vector<std::string> Receive(std::size_t expect, int waitMs) const;
    // Nothing is waiting now.
    bool Idle() const;
    // Whether a datagram is waiting within waitMs, without taking it.
    bool WaitReadable(int waitMs) const;

private:
    int m_fd;
    bool m_bBound = false;
    sockaddr_in m_addr{};
};
