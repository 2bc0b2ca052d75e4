#include "LoopbackDatagram.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Loopback.h"
#include "Protocol.h"

namespace {

// Larger than any datagram the system delivers, so none is ever cut.
constexpr std::size_t kLargest = 65536;

}  // namespace

CLoopbackDatagram::CLoopbackDatagram(std::uint16_t port, const char* pAddress)
    : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    const int room = 1 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    sockaddr_in local = LoopbackAddress(port);
    if (pAddress)
        local.sin_addr.s_addr = ::inet_addr(pAddress);
    m_bBound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    socklen_t len = sizeof m_addr;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&m_addr), &len);
}

CLoopbackDatagram::~CLoopbackDatagram() { Close(); }

bool CLoopbackDatagram::SetReceiveBuffer(int bytes) const
{
    return ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 &&
           ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0;
}

bool CLoopbackDatagram::Connect(std::uint16_t port) const
{
    const sockaddr_in to = LoopbackAddress(port);
    return ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0;
}

void CLoopbackDatagram::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CLoopbackDatagram::SendTo(std::uint16_t port, std::string_view bytes) const
{
    const sockaddr_in to = LoopbackAddress(port);
    ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void CLoopbackDatagram::SendToServer(std::string_view bytes) const { SendTo(BROADCAST_PORT, bytes); }

std::string CLoopbackDatagram::Next(int waitMs) const
{
    if (!WaitReadable(waitMs))
        return kNone;
    char buf[kLargest];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    return n < 0 ? std::string(kNone) : std::string(buf, static_cast<std::size_t>(n));
}

std::vector<std::string> CLoopbackDatagram::Receive(std::size_t expect, int waitMs) const
{
    std::vector<std::string> got;
    char buf[kLargest];
    for (;;) {
        if (got.size() < expect && !WaitReadable(waitMs))
            break;
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            break;
        got.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool CLoopbackDatagram::Idle() const
{
    char c;
    return ::recv(m_fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) < 0;
}

bool CLoopbackDatagram::WaitReadable(int waitMs) const { return WaitReady(m_fd, POLLIN, waitMs); }
