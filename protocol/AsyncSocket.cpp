#include "AsyncSocket.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

CAsyncSocket::~CAsyncSocket() { Close(); }

bool CAsyncSocket::Create(unsigned port, int type, long events, in_addr address)
{
    Close();
    int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;

    // Linux refuses to bind a listening port that closed sign-on connections
    // still hold in TIME_WAIT, which would keep a restarted server out for a
    // minute after any sign-on. Address reuse on a listener only lifts that;
    // a port that another socket listens on is still refused.
    if (type == SOCK_STREAM && (events & FD_ACCEPT)) {
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    local.sin_addr = address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return true;
    }
    m_hSocket = fd;
    m_nType = type;

    // A stream socket that is not yet listening polls as hung up, which would
    // wake the loop without end; one that waits for connections is watched
    // from Listen on.
    m_bWatchOnListen = type == SOCK_STREAM && (events & FD_ACCEPT);
    if ((events & (FD_READ | FD_ACCEPT)) && !m_bWatchOnListen && WatchInLoop()) {
        int saved = errno;
        Close();
        errno = saved;
        return true;
    }
    return false;
}

bool CAsyncSocket::WatchInLoop()
{
    CEventLoop* pLoop = CEventLoop::Current();
    if (pLoop == nullptr) {
        errno = EINVAL;
        return true;
    }
    if (pLoop->Watch(m_hSocket, this))
        return true;
    m_pLoop = pLoop;
    return false;
}

bool CAsyncSocket::Listen(int backlog)
{
    if (::listen(m_hSocket, backlog) < 0)
        return true;
    m_bListening = true;
    return m_bWatchOnListen && m_pLoop == nullptr && WatchInLoop();
}

bool CAsyncSocket::Accept(CAsyncSocket& conn, sockaddr_in* pPeer)
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd;
    do
        fd = ::accept4(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return true;
    conn.Attach(fd, SOCK_STREAM);
    if (pPeer)
        *pPeer = peer;
    return false;
}

void CAsyncSocket::Attach(int fd, int type)
{
    Close();
    m_hSocket = fd;
    m_nType = type;
}

bool CAsyncSocket::Connect(const sockaddr_in& addr)
{
    int rc;
    do
        rc = ::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    while (rc < 0 && errno == EINTR);
    return rc < 0;
}

int CAsyncSocket::Send(const void* pBuf, int len)
{
    ssize_t n;
    do
        n = ::send(m_hSocket, pBuf, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CAsyncSocket::Receive(void* pBuf, int len)
{
    // MSG_TRUNC makes recv report a datagram's real length, so one that did
    // not fit is recognised and failed rather than handed on cut short.
    const int flags = m_nType == SOCK_DGRAM ? MSG_TRUNC : 0;
    ssize_t n;
    do
        n = ::recv(m_hSocket, pBuf, static_cast<std::size_t>(len), flags);
    while (n < 0 && errno == EINTR);
    if (n > len) {
        errno = EMSGSIZE;
        return -1;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::ReceiveThrough(void* pBuf, int len, char last)
{
    // Look first, then take only what belongs: the bytes after the one
    // looked for are another message's, and must stay queued for it.
    ssize_t seen;
    do
        seen = ::recv(m_hSocket, pBuf, static_cast<std::size_t>(len), MSG_PEEK);
    while (seen < 0 && errno == EINTR);
    if (seen <= 0)
        return static_cast<int>(seen);
    const void* pLast = std::memchr(pBuf, last, static_cast<std::size_t>(seen));
    const std::size_t want =
        pLast ? static_cast<std::size_t>(static_cast<const char*>(pLast) - static_cast<const char*>(pBuf)) + 1
              : static_cast<std::size_t>(seen);
    ssize_t n;
    do
        n = ::recv(m_hSocket, pBuf, want, 0);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CAsyncSocket::SendParts(std::span<const std::string_view> parts)
{
    // One write for all of them: several small writes in a row would wait
    // on Nagle's algorithm for the peer's delayed acknowledgement.
    constexpr std::size_t kMaxParts = 8;
    iovec iov[kMaxParts];
    const std::size_t count = std::min(parts.size(), kMaxParts);
    for (std::size_t i = 0; i < count; ++i)
        iov[i] = {const_cast<char*>(parts[i].data()), parts[i].size()};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = count;
    ssize_t n;
    do
        n = ::sendmsg(m_hSocket, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CAsyncSocket::SendTo(const void* pBuf, int len, const sockaddr_in& to)
{
    ssize_t n;
    do
        n = ::sendto(m_hSocket, pBuf, static_cast<std::size_t>(len), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CAsyncSocket::SendToEach(const void* pBuf, int len, const sockaddr_in* const* ppTo, int count)
{
    // One sendmmsg per chunk: the kernel still sends every datagram on its
    // own, but the cost of entering it is paid once per chunk.
    constexpr int kChunk = 64;
    mmsghdr msgs[kChunk];
    iovec iov{const_cast<void*>(pBuf), static_cast<std::size_t>(len)};
    int sent = 0;
    while (sent < count) {
        const int chunk = std::min(count - sent, kChunk);
        for (int i = 0; i < chunk; ++i) {
            msghdr& hdr = msgs[i].msg_hdr;
            hdr = {};
            hdr.msg_name = const_cast<sockaddr_in*>(ppTo[sent + i]);
            hdr.msg_namelen = sizeof(sockaddr_in);
            hdr.msg_iov = &iov;
            hdr.msg_iovlen = 1;
        }
        int rc;
        do
            rc = ::sendmmsg(m_hSocket, msgs, static_cast<unsigned>(chunk), MSG_NOSIGNAL);
        while (rc < 0 && errno == EINTR);
        // A failure after the first message of a chunk ends the call with the
        // count so far; the caller's next call meets that failure first.
        if (rc < 0)
            return sent > 0 ? sent : -1;
        sent += rc;
        if (rc < chunk)
            break;
    }
    return sent;
}

int CAsyncSocket::ReceiveFrom(void* pBuf, int len, sockaddr_in& from)
{
    ssize_t n;
    do {
        socklen_t fromLen = sizeof from;
        n = ::recvfrom(m_hSocket, pBuf, static_cast<std::size_t>(len), MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&from), &fromLen);
    } while (n < 0 && errno == EINTR);
    if (n > len) {
        errno = EMSGSIZE;
        return -1;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::ReceiveFromEach(CDatagramSlot* pSlots, int count)
{
    constexpr int kMaxBatch = 64;
    count = std::min(count, kMaxBatch);
    mmsghdr msgs[kMaxBatch];
    iovec iov[kMaxBatch];
    for (int i = 0; i < count; ++i) {
        iov[i] = {pSlots[i].pBuf, static_cast<std::size_t>(pSlots[i].size)};
        msghdr& hdr = msgs[i].msg_hdr;
        hdr = {};
        hdr.msg_name = &pSlots[i].from;
        hdr.msg_namelen = sizeof(sockaddr_in);
        hdr.msg_iov = &iov[i];
        hdr.msg_iovlen = 1;
    }
    int got;
    do
        got = ::recvmmsg(m_hSocket, msgs, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    while (got < 0 && errno == EINTR);
    // A datagram that did not fit is a failed receive, never one cut short.
    for (int i = 0; i < got; ++i)
        pSlots[i].len = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) ? -1 : static_cast<int>(msgs[i].msg_len);
    return got;
}

bool CAsyncSocket::GetSockName(sockaddr_in& addr) const
{
    socklen_t len = sizeof addr;
    return ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &len) < 0;
}

bool CAsyncSocket::SetNoDelay()
{
    int on = 1;
    return ::setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0;
}

bool CAsyncSocket::SetReceiveBuffer(int bytes)
{
    if (::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0)
        return false;
    return ::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0;
}

bool CAsyncSocket::WaitWritable(int timeoutMs) const
{
    pollfd p{m_hSocket, POLLOUT, 0};
    int rc;
    do
        rc = ::poll(&p, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc <= 0;
}

void CAsyncSocket::Close()
{
    if (m_hSocket < 0)
        return;
    if (m_pLoop) {
        m_pLoop->Unwatch(m_hSocket);
        m_pLoop->KillTimer(this);
        m_pLoop = nullptr;
    }
    int saved = errno;
    ::close(m_hSocket);
    errno = saved;
    m_hSocket = -1;
    m_bListening = false;
    m_bWatchOnListen = false;
}

void CAsyncSocket::Pause(std::chrono::milliseconds pause)
{
    if (m_pLoop == nullptr)
        return;
    m_pLoop->Unwatch(m_hSocket);
    m_pLoop->SetTimer(this, CEventLoop::Clock::now() + pause);
    m_pause = pause;
}

void CAsyncSocket::OnTimer()
{
    // A loop that will not watch it now may later: the pause is taken again.
    if (m_pLoop->Watch(m_hSocket, this))
        Pause(m_pause);
}

void CAsyncSocket::OnReadable()
{
    if (m_bListening)
        OnAccept(0);
    else
        OnReceive(0);
}
