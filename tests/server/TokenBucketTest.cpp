#include <gtest/gtest.h>

#include "TokenBucket.h"

using namespace std::chrono_literals;

// A burst of 3, then 2 a second: the burst goes at once, the rest at the
// rate, and a quiet spell never saves up more than the burst.
TEST(CTokenBucketTest, LetsABurstThroughThenHoldsToItsRate)
{
    const CTokenBucket::Clock::time_point t0{};
    CTokenBucket bucket(3, 2, t0);
    struct {
        std::chrono::milliseconds at;
        bool taken;
    } const steps[] = {
        {0ms, true}, {0ms, true}, {0ms, true}, {0ms, false},  // the burst
        {499ms, false}, {500ms, true}, {500ms, false},         // one every 500 ms
        {10s, true}, {10s, true}, {10s, true}, {10s, false},   // quiet: the burst again, no more
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at.count());
        EXPECT_EQ(bucket.Take(1, t0 + step.at), step.taken);
    }
    EXPECT_FALSE(bucket.Has(1, t0 + 10s));
    EXPECT_TRUE(bucket.Full(t0 + 12s));
}
