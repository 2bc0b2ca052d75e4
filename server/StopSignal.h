#pragma once
// SIGINT, SIGTERM and SIGHUP turned into a readable descriptor that the
// event loop watches, so a stop request (Ctrl+C, the service manager, the
// terminal going away) is handled between notifications like a press of
// "&Shutdown Server". Owns its signalfd; not its loop.

#include "EventLoop.h"

class CStopSignal : private CWatcher {
public:
    CStopSignal() = default;
    ~CStopSignal();
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    // Block the three signals and watch them in the current loop. True if failed.
    [[nodiscard]] bool Open();
    bool Requested() const { return m_bRequested; }

private:
    void OnReadable() override;

    int m_hSignal = -1;
    CEventLoop* m_pLoop = nullptr;
    bool m_bRequested = false;
};
