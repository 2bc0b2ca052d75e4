#include "EventLoop.h"

#include <algorithm>
#include <vector>

namespace {
thread_local CEventLoop* t_pCurrent = nullptr;
}

CEventLoop::CEventLoop() : m_pOuter(t_pCurrent) { t_pCurrent = this; }

CEventLoop::~CEventLoop()
{
    if (t_pCurrent == this)
        t_pCurrent = m_pOuter;
}

CEventLoop* CEventLoop::Current() { return t_pCurrent; }

void CEventLoop::SetTimer(CTimer* pTimer, Clock::time_point when)
{
    if (const auto it = m_timerKeys.find(pTimer); it != m_timerKeys.end())
        m_timers.erase(it->second);
    const CTimerKey key{when, m_nextTimerSerial++};
    m_timers.emplace(key, pTimer);
    m_timerKeys[pTimer] = key;
    OnTimersChanged();
}

void CEventLoop::KillTimer(CTimer* pTimer)
{
    const auto it = m_timerKeys.find(pTimer);
    if (it == m_timerKeys.end())
        return;
    m_timers.erase(it->second);
    m_timerKeys.erase(it);
    OnTimersChanged();
}

CEventLoop::Clock::time_point CEventLoop::NextTimerDue() const
{
    return m_timers.empty() ? Clock::time_point::max() : m_timers.begin()->first.when;
}

int CEventLoop::BoundWait(int timeoutMs) const
{
    const Clock::time_point due = NextTimerDue();
    if (due == Clock::time_point::max())
        return timeoutMs;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    const int leftMs = static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
    return timeoutMs < 0 ? leftMs : std::min(timeoutMs, leftMs);
}

int CEventLoop::RunDueTimers()
{
    if (m_timers.empty())
        return 0;
    // Collect first, then deliver: a handler may kill or move any timer,
    // and one that it sets again belongs to a later pass.
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<CTimer*, std::uint64_t>> due;
    for (auto it = m_timers.begin(); it != m_timers.end() && it->first.when <= now; ++it)
        due.emplace_back(it->second, it->first.serial);
    int delivered = 0;
    for (const auto& [pTimer, serial] : due) {
        const auto it = m_timerKeys.find(pTimer);
        if (it == m_timerKeys.end() || it->second.serial != serial)
            continue;
        m_timers.erase(it->second);
        m_timerKeys.erase(it);
        pTimer->OnTimer();
        ++delivered;
    }
    if (delivered > 0)
        OnTimersChanged();
    return delivered;
}
