#pragma once
// The poll(2) backend of the event loop, with no Qt: used by the headless
// server, the tests of the cores and the benchmarks.

#include <poll.h>

#include <cstdint>
#include <vector>

#include "EventLoop.h"

class CPollLoop : public CEventLoop {
public:
    CPollLoop() = default;
    ~CPollLoop() override = default;

    [[nodiscard]] bool Watch(int fd, CWatcher* pWatcher, unsigned events = WATCH_READ) override;
    void Unwatch(int fd) override;
    [[nodiscard]] int RunOnce(int timeoutMs) override;
    void PumpRepaint() override {}

    bool IsWatched(int fd) const;

private:
    struct CEntry {
        CWatcher* pWatcher = nullptr;
        unsigned events = 0;
        std::uint64_t serial = 0;  // tells a re-registered descriptor from the old one
    };
    struct CFired {
        int fd;
        short revents;
        std::uint64_t serial;
    };

    // Whether fd is still watched as it was when its readiness was collected.
    bool StillWatched(const CFired& f) const;

    std::vector<CEntry> m_entries;   // indexed by descriptor
    std::vector<pollfd> m_pollfds;   // rebuilt when the watched set changes
    std::vector<CFired> m_fired;     // the ready set of one pass
    std::uint64_t m_nextSerial = 1;
    bool m_bDirty = false;
};
