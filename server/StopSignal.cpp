#include "StopSignal.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

CStopSignal::~CStopSignal()
{
    if (m_hSignal < 0)
        return;
    if (m_pLoop)
        m_pLoop->Unwatch(m_hSignal);
    ::close(m_hSignal);
}

bool CStopSignal::Open()
{
    // Blocked signals stay pending for the descriptor instead of ending the
    // process, from this point on.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &stops, nullptr) < 0)
        return true;
    m_hSignal = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_hSignal < 0)
        return true;
    CEventLoop* pLoop = CEventLoop::Current();
    if (pLoop == nullptr || pLoop->Watch(m_hSignal, this))
        return true;
    m_pLoop = pLoop;
    return false;
}

void CStopSignal::OnReadable()
{
    signalfd_siginfo info;
    while (::read(m_hSignal, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        m_bRequested = true;
}
