#pragma once
// The Qt backend of the event loop: one read notifier per watched descriptor,
// delivered by whatever Qt loop runs (a modal dialog's, a message box's).
// Owns its notifiers, not the watchers. Needs a QCoreApplication.

#include <QObject>

#include <unordered_map>

#include "EventLoop.h"

class QSocketNotifier;

class CQtEventLoop : public CEventLoop {
public:
    CQtEventLoop() = default;
    ~CQtEventLoop() override;  // deletes every notifier; tells no watcher

    bool Watch(int fd, CWatcher* pWatcher) override;
    // Safe from inside fd's own notification: the notifier is switched off at
    // once and deleted when control is back in the Qt loop.
    void Unwatch(int fd) override;
    int RunOnce(int timeoutMs) override;
    // Repaints, timers and posted events only: no user input, and no socket
    // notification (the notifiers are off while it runs).
    void PumpRepaint() override;

    bool IsWatched(int fd) const { return m_entries.count(fd) != 0; }

private:
    struct CEntry {
        QSocketNotifier* pNotifier;
        CWatcher* pWatcher;
    };

    void Deliver(int fd, QSocketNotifier* pNotifier);

    std::unordered_map<int, CEntry> m_entries;
    QObject m_owner;  // parent of the notifiers, including those awaiting deletion
    int m_nDelivered = 0;
};
