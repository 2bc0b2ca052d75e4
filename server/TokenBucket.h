#pragma once
// A token bucket: a budget of up to `burst` at once that refills at `rate` a
// second, for limits that let a short burst through whole but hold a steady
// flood to its rate. Pure: the caller says what time it is. Owns nothing.

#include <chrono>

class CTokenBucket {
public:
    using Clock = std::chrono::steady_clock;

    // Full at now.
    CTokenBucket(double burst, double rate, Clock::time_point now) : m_burst(burst), m_rate(rate), m_tokens(burst), m_last(now) {}

    // Whether cost tokens are there at now.
    [[nodiscard]] bool Has(double cost, Clock::time_point now);
    // Take cost tokens if they are there at now; false, taking none, if not.
    [[nodiscard]] bool Take(double cost, Clock::time_point now);
    // Whether it has refilled to its burst at now: nothing of it is in use.
    [[nodiscard]] bool Full(Clock::time_point now);

private:
    void Refill(Clock::time_point now);

    double m_burst;
    double m_rate;  // tokens a second
    double m_tokens;
    Clock::time_point m_last;  // when m_tokens was last brought up to date
};
