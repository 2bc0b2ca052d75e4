#include "LoopbackStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "Loopback.h"

CLoopbackStream::CLoopbackStream(std::uint16_t port, const char* pFrom)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = pFrom ? ::inet_addr(pFrom) : htonl(INADDR_ANY);
    const sockaddr_in to = LoopbackAddress(port);
    if (m_fd < 0 || (pFrom && ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) ||
        (::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && !FinishInterruptedConnect())) {
        Close();
        return;
    }
    SendAtOnce();
}

bool CLoopbackStream::FinishInterruptedConnect() const
{
    // A signal (a fuzzer's timer, say) cuts a blocking connect short while
    // the connection goes on being made: closing and connecting again would
    // leave the server a second connection. Wait for the first instead.
    if (errno != EINTR)
        return false;
    pollfd p{m_fd, POLLOUT, 0};
    int rc;
    do
        rc = ::poll(&p, 1, 5000);
    while (rc < 0 && errno == EINTR);
    int error = 0;
    socklen_t len = sizeof error;
    return rc == 1 && ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
}

CLoopbackStream::CLoopbackStream(int acceptedFd) : m_fd(acceptedFd)
{
    if (m_fd >= 0)
        SendAtOnce();
}

CLoopbackStream::~CLoopbackStream() { Close(); }

CLoopbackStream::CLoopbackStream(CLoopbackStream&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_nWaitMs(other.m_nWaitMs),
      m_in(std::move(other.m_in)),
      m_nInHead(std::exchange(other.m_nInHead, 0))
{
}

CLoopbackStream& CLoopbackStream::operator=(CLoopbackStream&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_nWaitMs = other.m_nWaitMs;
        m_in = std::move(other.m_in);
        m_nInHead = std::exchange(other.m_nInHead, 0);
    }
    return *this;
}

bool CLoopbackStream::Send(std::string_view bytes) const
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            bytes.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitReady(m_fd, POLLOUT, m_nWaitMs))
            continue;
        else
            return true;
    }
    return false;
}

bool CLoopbackStream::Fill(int waitMs)
{
    if (m_fd < 0 || !WaitReady(m_fd, POLLIN, waitMs))
        return false;
    char buf[65536];
    ssize_t n;
    do
        n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    // What was handed out goes first, so the buffer never grows past what
    // one read brings beyond what is still owed.
    m_in.erase(0, m_nInHead);
    m_nInHead = 0;
    m_in.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool CLoopbackStream::ReadFull(void* pOut, std::size_t count)
{
    while (Buffered() < count)
        if (!Fill(m_nWaitMs))
            return true;
    std::memcpy(pOut, m_in.data() + m_nInHead, count);
    m_nInHead += count;
    return false;
}

std::string CLoopbackStream::Read(std::size_t count)
{
    while (Buffered() < count && Fill(m_nWaitMs)) {
    }
    const std::size_t take = std::min(count, Buffered());
    std::string bytes = m_in.substr(m_nInHead, take);
    m_nInHead += take;
    return bytes;
}

std::string CLoopbackStream::ReadToEnd()
{
    while (Fill(m_nWaitMs)) {
    }
    std::string bytes = m_in.substr(m_nInHead);
    m_in.clear();
    m_nInHead = 0;
    return bytes;
}

std::size_t CLoopbackStream::Pending() const
{
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &queued) < 0)
        queued = 0;
    return Buffered() + static_cast<std::size_t>(queued);
}

bool CLoopbackStream::PeerClosed(int waitMs)
{
    m_in.clear();
    m_nInHead = 0;
    char buf[1024];
    while (m_fd >= 0 && WaitReady(m_fd, POLLIN, waitMs)) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 || errno == ECONNRESET;
    }
    return false;
}

// Each send goes out in a segment of its own at once, as the peers' small
// messages do.
void CLoopbackStream::SendAtOnce() const
{
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void CLoopbackStream::CloseSending() const { ::shutdown(m_fd, SHUT_WR); }

void CLoopbackStream::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CLoopbackStream::Reset()
{
    if (m_fd >= 0) {
        const linger abort{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    Close();
}
