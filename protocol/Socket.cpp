#include "Socket.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace {
// One slice of a blocking wait. Short, so that windows repaint smoothly while
// a sign-on waits; a ready socket ends the slice at once.
constexpr int kSliceMs = 50;
}  // namespace

bool CSocket::Create() { return CAsyncSocket::Create(0, SOCK_STREAM, 0); }

bool CSocket::Wait(short events)
{
    for (;;) {
        int sliceMs = kSliceMs;
        if (m_deadline != Clock::time_point::max()) {
            // Rounded up, so that a call never fails before the deadline.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now());
            if (left.count() <= 0) {
                errno = ETIMEDOUT;
                return true;
            }
            sliceMs = static_cast<int>(std::min<long long>(sliceMs, left.count()));
        }
        pollfd p{Handle(), events, 0};
        int rc = ::poll(&p, 1, sliceMs);
        if (rc > 0)
            return false;  // ready, closed or failed: the next call tells which
        if (rc < 0 && errno != EINTR)
            return true;
        if (CEventLoop* pLoop = CEventLoop::Current())
            pLoop->PumpRepaint();
    }
}

bool CSocket::Connect(const sockaddr_in& addr)
{
    if (!CAsyncSocket::Connect(addr))
        return false;
    if (errno != EINPROGRESS)
        return true;
    if (Wait(POLLOUT))
        return true;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(Handle(), SOL_SOCKET, SO_ERROR, &error, &len) < 0)
        return true;
    errno = error;
    return error != 0;
}

bool CSocket::PastDeadline() const
{
    if (m_deadline == Clock::time_point::max() || Clock::now() < m_deadline)
        return false;
    errno = ETIMEDOUT;
    return true;
}

int CSocket::Send(const void* pBuf, int len)
{
    const char* p = static_cast<const char*>(pBuf);
    int sent = 0;
    while (sent < len) {
        if (PastDeadline())
            return -1;
        int n = CAsyncSocket::Send(p + sent, len - sent);
        if (n >= 0) {
            sent += n;
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || Wait(POLLOUT))
            return -1;
    }
    return sent;
}

int CSocket::ReceiveWaiting(void* pBuf, int len, int flags)
{
    for (;;) {
        // Checked before every call, not only before a wait: a peer that
        // always has a little more ready must not outlast the deadline.
        if (PastDeadline())
            return -1;
        ssize_t n = ::recv(Handle(), pBuf, static_cast<std::size_t>(len), flags);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || Wait(POLLIN))
            return -1;
    }
}

int CSocket::Receive(void* pBuf, int len) { return ReceiveWaiting(pBuf, len, 0); }

int CSocket::Peek(void* pBuf, int len) { return ReceiveWaiting(pBuf, len, MSG_PEEK); }

bool CSocket::ReceiveFull(void* pBuf, int len, int* pGot)
{
    char* p = static_cast<char*>(pBuf);
    int got = 0;
    bool failed = false;
    while (got < len) {
        int n = Receive(p + got, len - got);
        if (n <= 0) {
            failed = true;
            break;
        }
        got += n;
    }
    if (pGot)
        *pGot = got;
    return failed;
}
