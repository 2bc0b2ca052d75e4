#pragma once
// A datagram socket of a fuzz harness on 127.0.0.1, on a port of the
// system's choice, for playing a member, a stranger or the server. Owns its
// descriptor.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

inline sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

class CLoopbackDatagram {
public:
    CLoopbackDatagram() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        // Room for every datagram one step of a harness may bring.
        const int bufferSize = 1 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        sockaddr_in local = LoopbackAddress(0);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t len = sizeof m_addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&m_addr), &len);
    }
    ~CLoopbackDatagram() { ::close(m_fd); }
    CLoopbackDatagram(const CLoopbackDatagram&) = delete;
    CLoopbackDatagram& operator=(const CLoopbackDatagram&) = delete;

    const sockaddr_in& Address() const { return m_addr; }
    std::uint16_t Port() const { return ntohs(m_addr.sin_port); }

    void SendTo(std::uint16_t port, const std::string& bytes) const
    {
        const sockaddr_in to = LoopbackAddress(port);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    // The datagrams waiting, whole and in order. Waits up to waitMs for each
    // of the first `expect`; takes what else is there without waiting.
    std::vector<std::string> Receive(std::size_t expect, int waitMs) const
    {
        std::vector<std::string> got;
        static char buf[65536];
        for (;;) {
            if (got.size() < expect) {
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, waitMs) <= 0)
                    break;
            }
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0)
                break;
            got.emplace_back(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int m_fd;
    sockaddr_in m_addr{};
};
