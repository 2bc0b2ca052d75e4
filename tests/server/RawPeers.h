#pragma once
// The client side of the tests, made of plain blocking POSIX sockets on
// 127.0.0.1 with a receive timeout, so that they check the server's bytes
// and no read can hang.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "Protocol.h"

inline sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline void SetReceiveTimeout(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// A user's datagram socket, bound to 127.0.0.1 and a port of the system's
// choice (or the one asked for).
class CRawDatagram {
public:
    explicit CRawDatagram(std::uint16_t port = 0) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        sockaddr_in local = LoopbackAddress(port);
        m_bBound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        socklen_t len = sizeof m_addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&m_addr), &len);
        SetReceiveTimeout(m_fd, 2000);
    }
    ~CRawDatagram() { ::close(m_fd); }
    CRawDatagram(const CRawDatagram&) = delete;
    CRawDatagram& operator=(const CRawDatagram&) = delete;

    bool Bound() const { return m_bBound; }
    const sockaddr_in& Address() const { return m_addr; }
    std::uint16_t PortNetworkOrder() const { return m_addr.sin_port; }

    void SendToServer(const std::string& bytes) const
    {
        const sockaddr_in to = LoopbackAddress(BROADCAST_PORT);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    // The next datagram, whole; "<none>" if none came within the timeout.
    std::string Next() const
    {
        char buf[2048];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n < 0 ? std::string("<none>") : std::string(buf, static_cast<std::size_t>(n));
    }
    bool Idle() const
    {
        char c;
        return ::recv(m_fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) < 0;
    }

private:
    int m_fd;
    bool m_bBound = false;
    sockaddr_in m_addr{};
};

// A sign-on connection to SIGNON_PORT, from 127.0.0.1 or another address of
// this machine. The connect completes in the listener's backlog, so a test
// can queue its bytes before the server runs.
class CRawStream {
public:
    explicit CRawStream(const char* pFrom = nullptr) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = pFrom ? ::inet_addr(pFrom) : htonl(INADDR_ANY);
        const sockaddr_in to = LoopbackAddress(SIGNON_PORT);
        m_bConnected = (pFrom == nullptr || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) &&
                       ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
        SetReceiveTimeout(m_fd, 2000);
    }
    ~CRawStream() { Close(); }
    CRawStream(const CRawStream&) = delete;
    CRawStream& operator=(const CRawStream&) = delete;

    bool Connected() const { return m_bConnected; }
    void Send(const std::string& bytes) const { ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void CloseSending() const { ::shutdown(m_fd, SHUT_WR); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Everything the server sent until it closed (or the timeout passed).
    std::string ReadToEnd() const
    {
        std::string all;
        char buf[1024];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0)
            all.append(buf, static_cast<std::size_t>(n));
        return all;
    }
    // Whether the server has closed (or reset) the connection by now; what
    // it sent before is read and dropped. Does not wait.
    bool ClosedByServer() const
    {
        char buf[1024];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        }
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

private:
    int m_fd;
    bool m_bConnected = false;
};
