#include "QtEventLoop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QSocketNotifier>

CQtEventLoop::CQtEventLoop()
{
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);  // never wakes before a timer is due
    QObject::connect(&m_wake, &QTimer::timeout, &m_owner, [this] { OnWake(); });
}

CQtEventLoop::~CQtEventLoop()
{
    // m_owner deletes the notifiers after this body; none may fire meanwhile.
    for (auto& [fd, entry] : m_entries)
        for (QSocketNotifier* pNotifier : {entry.pRead, entry.pWrite})
            if (pNotifier)
                pNotifier->setEnabled(false);
}

bool CQtEventLoop::Watch(int fd, CWatcher* pWatcher, unsigned events)
{
    if (fd < 0 || pWatcher == nullptr || (events & (WATCH_READ | WATCH_WRITE)) == 0) {
        errno = EINVAL;
        return true;
    }
    Unwatch(fd);
    m_entries[fd] = {(events & WATCH_READ) ? MakeNotifier(fd, false) : nullptr,
                     (events & WATCH_WRITE) ? MakeNotifier(fd, true) : nullptr, pWatcher};
    return false;
}

QSocketNotifier* CQtEventLoop::MakeNotifier(int fd, bool bWrite)
{
    auto* pNotifier = new QSocketNotifier(fd, bWrite ? QSocketNotifier::Write : QSocketNotifier::Read, &m_owner);
    QObject::connect(pNotifier, &QSocketNotifier::activated, &m_owner,
                     [this, fd, pNotifier, bWrite] { Deliver(fd, pNotifier, bWrite); });
    return pNotifier;
}

void CQtEventLoop::Unwatch(int fd)
{
    const auto it = m_entries.find(fd);
    if (it == m_entries.end())
        return;
    // Switched off now, so a readiness Qt has already collected for fd is not
    // delivered; deleted later, because this may run inside its own signal.
    const CEntry entry = it->second;
    m_entries.erase(it);
    for (QSocketNotifier* pNotifier : {entry.pRead, entry.pWrite})
        if (pNotifier) {
            pNotifier->setEnabled(false);
            pNotifier->disconnect();
            pNotifier->deleteLater();
        }
}

void CQtEventLoop::Deliver(int fd, QSocketNotifier* pNotifier, bool bWrite)
{
    // A pass of Qt's loop costs several times what reading one datagram does,
    // so a descriptor that stays ready is served again at once, a few times
    // and for a moment at most: painting, timers, input and other sockets
    // still come in their turn.
    const Clock::time_point until = Clock::now() + kBurstTime;
    for (int n = 0; n < kBurstCount; ++n) {
        // Check again before each call: the descriptor may have been
        // unwatched, or closed and watched anew under the same number, since
        // Qt saw it ready, and a handler may have switched the notifier off.
        const auto it = m_entries.find(fd);
        if (it == m_entries.end() || (bWrite ? it->second.pWrite : it->second.pRead) != pNotifier ||
            !pNotifier->isEnabled())
            return;
        ++m_nDelivered;
        if (bWrite)
            it->second.pWatcher->OnWritable();
        else
            it->second.pWatcher->OnReadable();
        if (Clock::now() >= until || !IsReady(fd, bWrite))
            return;
    }
}

bool CQtEventLoop::IsReady(int fd, bool bWrite)
{
    pollfd p{fd, static_cast<short>(bWrite ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLNVAL) == 0;
}

void CQtEventLoop::OnTimersChanged()
{
    // Inside the pump the wake waits for the pump to end.
    if (m_bPumping)
        return;
    const Clock::time_point due = NextTimerDue();
    if (due == Clock::time_point::max())
        m_wake.stop();
    else
        m_wake.start(BoundWait(-1));
}

void CQtEventLoop::OnWake()
{
    m_nDelivered += RunDueTimers();
    OnTimersChanged();  // a wake a little early (or none run) looks again
}

int CQtEventLoop::RunOnce(int timeoutMs)
{
    m_nDelivered = 0;
    if (timeoutMs == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return m_nDelivered;
    }
    // processEvents waits without bound when nothing is pending; a single-shot
    // timer bounds the wait at timeoutMs.
    QTimer bound;
    if (timeoutMs > 0) {
        bound.setSingleShot(true);
        bound.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return m_nDelivered;
}

void CQtEventLoop::PumpRepaint()
{
    // Qt's glib-based dispatcher (the usual one on Linux) does not honour
    // ExcludeSocketNotifiers, so the notifiers are switched off for the pump
    // themselves, and so is the wake of the seam's timers. Readiness is
    // level-triggered and a due timer stays due: nothing is lost, it is
    // delivered once the blocking call has returned to the loop.
    std::vector<std::pair<int, QSocketNotifier*>> held;
    held.reserve(m_entries.size());
    for (const auto& [fd, entry] : m_entries)
        for (QSocketNotifier* pNotifier : {entry.pRead, entry.pWrite})
            if (pNotifier && pNotifier->isEnabled()) {
                pNotifier->setEnabled(false);
                held.emplace_back(fd, pNotifier);
            }
    m_bPumping = true;
    m_wake.stop();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
    m_bPumping = false;
    // Only those still watched come back on; an unwatched one awaits deletion.
    for (const auto& [fd, pNotifier] : held) {
        const auto it = m_entries.find(fd);
        if (it != m_entries.end() && (it->second.pRead == pNotifier || it->second.pWrite == pNotifier))
            pNotifier->setEnabled(true);
    }
    OnTimersChanged();
}
