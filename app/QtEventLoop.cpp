#include "QtEventLoop.h"

#include <cerrno>

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
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
}
