#include "ParkedSignOn.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "ListenSocket.h"
#include "Protocol.h"
#include "Traffic.h"

CParkedSignOn::~CParkedSignOn() { StopWaiting(); }

bool CParkedSignOn::Park(CEventLoop* pLoop, const sockaddr_in& peer, CEventLoop::Clock::time_point deadline)
{
    m_peer = peer;
    if (pLoop == nullptr || pLoop->Watch(m_conn.Handle(), this))
        return true;
    m_pLoop = pLoop;
    m_pLoop->SetTimer(this, deadline);
    return false;
}

void CParkedSignOn::StopWaiting()
{
    if (m_pLoop == nullptr)
        return;
    m_pLoop->Unwatch(m_conn.Handle());
    m_pLoop->KillTimer(this);
    m_pLoop = nullptr;
}

void CParkedSignOn::OnReadable()
{
    EOutcome outcome;
    if (ReadHello(&outcome))
        m_pListener->OnParkedDone(this, outcome);  // deletes this: nothing may follow
}

void CParkedSignOn::OnTimer()
{
    m_pListener->OnParkedDone(this, EOutcome::TimedOut);  // deletes this: nothing may follow
}

bool CParkedSignOn::ReadHello(EOutcome* pOutcome)
{
    // Everything that has arrived is taken now: a peer that wrote its hello
    // in pieces, or wrote it and went, is seen at once, not at the deadline.
    const int fd = m_conn.Handle();
    char buf[HELLO_RECEIVE_SIZE];
    for (;;) {
        const int room = HELLO_RECEIVE_SIZE - static_cast<int>(m_hello.size());
        const ssize_t seen = ::recv(fd, buf, static_cast<std::size_t>(room), MSG_PEEK | MSG_DONTWAIT);
        if (seen < 0 && errno == EINTR)
            continue;
        if (seen < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;  // the rest has yet to come
        if (seen <= 0) {
            *pOutcome = EOutcome::Lost;
            return true;
        }
        // Look before taking: only the bytes up to the zero byte are taken.
        const void* pZero = std::memchr(buf, '\0', static_cast<std::size_t>(seen));
        const std::size_t want =
            pZero ? static_cast<std::size_t>(static_cast<const char*>(pZero) - buf) + 1 : static_cast<std::size_t>(seen);
        ssize_t taken;
        do
            taken = ::recv(fd, buf, want, MSG_DONTWAIT);
        while (taken < 0 && errno == EINTR);
        if (taken <= 0) {
            *pOutcome = EOutcome::Lost;
            return true;
        }
        m_hello.append(buf, static_cast<std::size_t>(taken));
        g_bytesRead += taken;
        // A wrong version is refused at once, without waiting for the rest;
        // a hello with no zero byte in its first 511 bytes is over too.
        if (std::memchr(buf, '\0', static_cast<std::size_t>(taken)) != nullptr ||
            m_hello.size() == static_cast<std::size_t>(HELLO_RECEIVE_SIZE) ||
            m_hello[0] != static_cast<char>(PROTOCOL_VERSION)) {
            *pOutcome = EOutcome::HelloIn;
            return true;
        }
    }
}
