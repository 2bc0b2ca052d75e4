#include "QtEventLoop.h"

#include <cerrno>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

CQtEventLoop::~CQtEventLoop()
{
    // m_owner deletes the notifiers after this body; none may fire meanwhile.
    for (auto& [fd, entry] : m_entries)
        entry.pNotifier->setEnabled(false);
}

bool CQtEventLoop::Watch(int fd, CWatcher* pWatcher)
{
    if (fd < 0 || pWatcher == nullptr) {
        errno = EINVAL;
        return true;
    }
    Unwatch(fd);
    auto* pNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, &m_owner);
    QObject::connect(pNotifier, &QSocketNotifier::activated, &m_owner,
                     [this, fd, pNotifier] { Deliver(fd, pNotifier); });
    m_entries[fd] = {pNotifier, pWatcher};
    return false;
}

void CQtEventLoop::Unwatch(int fd)
{
    const auto it = m_entries.find(fd);
    if (it == m_entries.end())
        return;
    // Switched off now, so a readiness Qt has already collected for fd is not
    // delivered; deleted later, because this may run inside its own signal.
    QSocketNotifier* pNotifier = it->second.pNotifier;
    m_entries.erase(it);
    pNotifier->setEnabled(false);
    pNotifier->disconnect();
    pNotifier->deleteLater();
}

void CQtEventLoop::Deliver(int fd, QSocketNotifier* pNotifier)
{
    // Check again before the call: the descriptor may have been unwatched, or
    // closed and watched anew under the same number, since Qt saw it ready.
    const auto it = m_entries.find(fd);
    if (it == m_entries.end() || it->second.pNotifier != pNotifier)
        return;
    ++m_nDelivered;
    it->second.pWatcher->OnReadable();
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
    QTimer wake;
    if (timeoutMs > 0) {
        wake.setSingleShot(true);
        wake.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return m_nDelivered;
}

void CQtEventLoop::PumpRepaint()
{
    // Qt's glib-based dispatcher (the usual one on Linux) does not honour
    // ExcludeSocketNotifiers, so the notifiers are switched off for the pump
    // themselves. Readiness is level-triggered: nothing is lost, it is
    // delivered once the blocking call has returned to the loop.
    std::vector<std::pair<int, QSocketNotifier*>> held;
    held.reserve(m_entries.size());
    for (const auto& [fd, entry] : m_entries)
        if (entry.pNotifier->isEnabled()) {
            entry.pNotifier->setEnabled(false);
            held.emplace_back(fd, entry.pNotifier);
        }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
    // Only those still watched come back on; an unwatched one awaits deletion.
    for (const auto& [fd, pNotifier] : held) {
        const auto it = m_entries.find(fd);
        if (it != m_entries.end() && it->second.pNotifier == pNotifier)
            pNotifier->setEnabled(true);
    }
}
