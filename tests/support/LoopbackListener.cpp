#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Loopback.h"

CLoopbackListener::CLoopbackListener(std::uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    // A fixed port may still have connections of earlier tests waiting out
    // their close; a port the system picks is free anyway.
    const int on = 1;
    if (port != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = LoopbackAddress(port);
    socklen_t len = sizeof local;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(m_fd, 16) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_nPort = ntohs(local.sin_port);
}

CLoopbackListener::~CLoopbackListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CLoopbackStream CLoopbackListener::Accept(int waitMs) const
{
    if (m_fd < 0 || !WaitReady(m_fd, POLLIN, waitMs))
        return CLoopbackStream();
    return CLoopbackStream(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

bool CLoopbackListener::HasPending() const { return m_fd >= 0 && WaitReady(m_fd, POLLIN, 0); }
