#pragma once
// The readiness-loop seam. Notification-driven sockets register their
// descriptor here; a backend (poll(2), or Qt's socket notifiers) tells them
// when it is readable or writable. Timers are kept here, once for both
// backends, which only say when to look at them. Backends only translate
// readiness: all logic stays in the sockets and the cores above the seam.
//
// One loop serves one thread; the most recently constructed loop of a thread
// is that thread's Current() loop until it is destroyed.

#include <chrono>
#include <cstdint>
#include <map>
#include <unordered_map>

class CWatcher {
public:
    // Called from the loop when a descriptor watched for reading is
    // readable, has a connection pending, or has an error flagged. May
    // unwatch or close any socket, its own included.
    virtual void OnReadable() = 0;
    // The same for a descriptor watched for writing: it can take a write, or
    // has an error flagged.
    virtual void OnWritable() {}

protected:
    ~CWatcher() = default;
};

class CTimer {
public:
    // Called from the loop once the time given to SetTimer has come. May set
    // or kill any timer, its own included.
    virtual void OnTimer() = 0;

protected:
    ~CTimer() = default;  // an owner kills its timer before it goes
};

class CEventLoop {
public:
    using Clock = std::chrono::steady_clock;

    // What Watch may ask to be told of.
    enum : unsigned {
        WATCH_READ = 0x1,
        WATCH_WRITE = 0x2,
    };

    CEventLoop();
    virtual ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    static CEventLoop* Current();

    // Start telling pWatcher about fd, for the events asked (WATCH_READ,
    // WATCH_WRITE or both); watching fd again replaces what was asked before.
    // Failure flag: true if it failed.
    [[nodiscard]] virtual bool Watch(int fd, CWatcher* pWatcher, unsigned events = WATCH_READ) = 0;
    // Stop at once; a readiness already collected for fd is not delivered.
    virtual void Unwatch(int fd) = 0;
    // Wait up to timeoutMs (0: don't wait, -1: until something happens) and
    // deliver what is ready and the timers that are due. Returns the number
    // of notifications delivered, or -1 if the wait itself failed (errno
    // says why); a signal that cuts the wait short is not a failure.
    [[nodiscard]] virtual int RunOnce(int timeoutMs) = 0;
    // Used while a blocking call waits: let windows repaint, deliver nothing
    // else (no input, no socket notification, no timer).
    virtual void PumpRepaint() = 0;

    // Call pTimer->OnTimer() once, at the first pass of the loop from when
    // on. Setting a timer that is already set moves it; killing one that is
    // not set does nothing. Timers due at the same time go in the order they
    // were set.
    void SetTimer(CTimer* pTimer, Clock::time_point when);
    void KillTimer(CTimer* pTimer);
    bool IsTimerSet(CTimer* pTimer) const { return m_timerKeys.count(pTimer) != 0; }

protected:
    // When the next timer is due; Clock::time_point::max() if none is set.
    Clock::time_point NextTimerDue() const;
    // Milliseconds a wait of timeoutMs may last with the timers in mind,
    // rounded up so that a timer is never woken for early.
    int BoundWait(int timeoutMs) const;
    // Deliver every timer due now; returns how many ran. A timer set again
    // by its own handler waits for a later pass, even if it is due at once.
    int RunDueTimers();
    // Told whenever the earliest due time may have changed.
    virtual void OnTimersChanged() {}

private:
    struct CTimerKey {
        Clock::time_point when;
        std::uint64_t serial;  // orders timers due together; tells a reset one from its old setting
        bool operator<(const CTimerKey& other) const
        {
            return when != other.when ? when < other.when : serial < other.serial;
        }
    };

    CEventLoop* m_pOuter = nullptr;  // the thread's loop before this one
    std::map<CTimerKey, CTimer*> m_timers;
    std::unordered_map<CTimer*, CTimerKey> m_timerKeys;
    std::uint64_t m_nextTimerSerial = 1;
};
