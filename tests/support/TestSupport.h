#pragma once
// Helpers for tests that drive an event loop: every wait is bounded.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "EventLoop.h"

// Run the loop one pass at a time until pred holds, the time is up or the
// loop itself fails. Returns pred's final value.
inline bool PumpUntil(CEventLoop& loop, const std::function<bool()>& pred,
                      std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline || loop.RunOnce(10) < 0)
            return pred();
    }
    return true;
}

// Run the loop for a fixed time (or until it fails), delivering whatever
// arrives.
inline void PumpFor(CEventLoop& loop, std::chrono::milliseconds span)
{
    const auto deadline = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < deadline && loop.RunOnce(5) >= 0) {
    }
}

// Holds an exclusive lock on the fixed protocol ports for its lifetime, so
// that tests in different processes never bind 2050/2051 at the same time.
class CPortLock {
public:
    CPortLock() : m_fd(::open("/tmp/zephran-ports.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~CPortLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CPortLock(const CPortLock&) = delete;
    CPortLock& operator=(const CPortLock&) = delete;

private:
    int m_fd;
};
