#pragma once
// The Qt backend of the event loop: a read and a write notifier per watched
// descriptor, as asked, and one timer that wakes the loop for the earliest
// due timer of the seam, all delivered by whatever Qt loop runs (a modal
// dialog's, a message box's). Owns its notifiers, not the watchers or the
// timers it serves. Needs a QCoreApplication.

#include <QObject>
#include <QTimer>

#include <unordered_map>

#include "EventLoop.h"

class QSocketNotifier;

class CQtEventLoop : public CEventLoop {
public:
    CQtEventLoop();
    ~CQtEventLoop() override;  // deletes every notifier; tells no watcher

    [[nodiscard]] bool Watch(int fd, CWatcher* pWatcher, unsigned events = WATCH_READ) override;
    // Safe from inside fd's own notification: the notifiers are switched off
    // at once and deleted when control is back in the Qt loop.
    void Unwatch(int fd) override;
    [[nodiscard]] int RunOnce(int timeoutMs) override;
    // Repaints, Qt's own timers and posted events only: no user input, no
    // socket notification (the notifiers are off while it runs) and no timer
    // of the seam (they wait for the pump to end).
    void PumpRepaint() override;

    bool IsWatched(int fd) const { return m_entries.count(fd) != 0; }

protected:
    void OnTimersChanged() override;

private:
    struct CEntry {
        QSocketNotifier* pRead;   // null unless reading was asked for
        QSocketNotifier* pWrite;  // null unless writing was asked for
        CWatcher* pWatcher;
    };

    // The most calls one notification makes while the descriptor stays
    // ready, and the longest they may take together.
    static constexpr int kBurstCount = 64;
    static constexpr std::chrono::microseconds kBurstTime{1000};

    QSocketNotifier* MakeNotifier(int fd, bool bWrite);
    // Calls the watcher, and again while fd stays ready, within the bounds above.
    void Deliver(int fd, QSocketNotifier* pNotifier, bool bWrite);
    static bool IsReady(int fd, bool bWrite);
    void OnWake();

    std::unordered_map<int, CEntry> m_entries;
    QObject m_owner;  // parent of the notifiers, including those awaiting deletion
    QTimer m_wake;    // due when the earliest timer of the seam is
    int m_nDelivered = 0;
    bool m_bPumping = false;
};
