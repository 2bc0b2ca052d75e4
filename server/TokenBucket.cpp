#include "TokenBucket.h"

#include <algorithm>

void CTokenBucket::Refill(Clock::time_point now)
{
    if (now <= m_last)
        return;
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    m_tokens = std::min(m_burst, m_tokens + seconds * m_rate);
    m_last = now;
}

bool CTokenBucket::Has(double cost, Clock::time_point now)
{
    Refill(now);
    return m_tokens >= cost;
}

bool CTokenBucket::Take(double cost, Clock::time_point now)
{
    if (!Has(cost, now))
        return false;
    m_tokens -= cost;
    return true;
}

bool CTokenBucket::Full(Clock::time_point now)
{
    Refill(now);
    return m_tokens >= m_burst;
}
