#pragma once
// The readiness-loop seam. Notification-driven sockets register their
// descriptor here; a backend (poll(2), or Qt's socket notifiers) tells them
// when it is readable. Backends only translate readiness: all logic stays in
// the sockets and the cores above the seam.
//
// One loop serves one thread; the most recently constructed loop of a thread
// is that thread's Current() loop until it is destroyed.

class CWatcher {
public:
    // Called from the loop when the watched descriptor is readable, has a
    // connection pending, or has an error flagged. May unwatch or close any
    // socket, its own included.
    virtual void OnReadable() = 0;

protected:
    ~CWatcher() = default;
};

class CEventLoop {
public:
    CEventLoop();
    virtual ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    static CEventLoop* Current();

    // Start telling pWatcher about fd. Failure flag: true if it failed.
    virtual bool Watch(int fd, CWatcher* pWatcher) = 0;
    // Stop at once; a readiness already collected for fd is not delivered.
    virtual void Unwatch(int fd) = 0;
    // Wait up to timeoutMs (0: don't wait, -1: forever) and deliver what is
    // ready. Returns the number of notifications delivered.
    virtual int RunOnce(int timeoutMs) = 0;
    // Used while a blocking call waits: let windows repaint, deliver nothing
    // else (no input, no socket notification).
    virtual void PumpRepaint() = 0;

private:
    CEventLoop* m_pOuter = nullptr;  // the thread's loop before this one
};
