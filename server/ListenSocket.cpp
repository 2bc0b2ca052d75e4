#include "ListenSocket.h"

#include <cerrno>
#include <string>

#include "ServerView.h"

namespace {

// Connections taken from the backlog in one notification: a burst is let in
// at once, and the gate decides what stays, while the room still gets its
// turn between bursts.
constexpr int kAcceptsAtOnce = 64;
// After a failed accept the listener rests this long before it tries again.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

// Failures of accept that concern one connection only: it is gone, the next
// one may be fine.
bool PassingAcceptFailure(int error)
{
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

}  // namespace

void CListenSocket::Init(IServerView* pWnd, CChatServer* pServer)
{
    m_pWnd = pWnd;
    m_pServer = pServer;
    m_gate.Init(pWnd, pServer);
}

void CListenSocket::Shutdown()
{
    Close();
    m_gate.CloseAll();
}

void CListenSocket::OnAccept(int /*nErrorCode*/)
{
    for (int i = 0; i < kAcceptsAtOnce; ++i) {
        std::unique_ptr<CSignOn> pSignOn = m_gate.Prepare(*Loop());
        sockaddr_in peer{};
        if (Accept(pSignOn->Connection(), &peer)) {
            AcceptFailed(errno);
            return;
        }
        m_bAcceptFailing = false;
        m_gate.Admit(std::move(pSignOn), peer);
    }
}

void CListenSocket::AcceptFailed(int error)
{
    if (PassingAcceptFailure(error))
        return;
    // Out of descriptors or memory: the connection stays queued, so the
    // listener would be ready again at once and the loop would spin. It
    // rests instead, and says so once until an accept succeeds again.
    if (!m_bAcceptFailing)
        m_pWnd->AppendLog("Could not accept a connection: Error: " + std::to_string(error), ELogLevel::Error);
    m_bAcceptFailing = true;
    Pause(kAcceptPause);
}
