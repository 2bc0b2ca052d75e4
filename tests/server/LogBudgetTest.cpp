#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogBudget.h"

using namespace std::chrono_literals;

namespace {

const CLogBudget::Clock::time_point t0 = CLogBudget::Clock::time_point{} + 1h;

in_addr_t Address(const char* pDotted) { return ::inet_addr(pDotted); }

// How many of count lines of bytes about address the budget lets through at at.
int Admitted(CLogBudget& budget, const char* pAddress, int count, CLogBudget::Clock::time_point at, std::size_t bytes = 50)
{
    int admitted = 0;
    for (int i = 0; i < count; ++i)
        admitted += budget.Admit(Address(pAddress), bytes, at) ? 1 : 0;
    return admitted;
}

}  // namespace

// One address: a burst of 100 lines whole, then 5 a second; another address
// has a budget of its own; what was held back is summarised, largest first.
TEST(CLogBudgetTest, EachAddressHasABurstThenARateAndTheRestIsSummarised)
{
    CLogBudget budget;
    EXPECT_EQ(Admitted(budget, "10.0.0.7", 1124, t0), 100);
    EXPECT_EQ(Admitted(budget, "10.0.0.8", 3, t0), 3);
    EXPECT_EQ(Admitted(budget, "10.0.0.8", 1, t0), 1);
    EXPECT_EQ(Admitted(budget, "10.0.0.7", 10, t0 + 1s), 5);
    EXPECT_TRUE(budget.HasHeldBack());
    EXPECT_EQ(budget.TakeSummaries(), std::vector<std::string>{"... 1,029 lines about 10.0.0.7 not logged"});
    EXPECT_FALSE(budget.HasHeldBack());
    EXPECT_TRUE(budget.TakeSummaries().empty());
}

// Many addresses, each within its own burst, together within the total:
// 10 KiB a second after a burst of 64 KiB, whatever the number of addresses.
// Their summaries are the ten largest, then one line for the rest.
TEST(CLogBudgetTest, AllAddressesTogetherKeepToTheTotalAndTheirSummariesAreFew)
{
    CLogBudget budget;
    int admitted = 0;
    for (int a = 0; a < 200; ++a) {
        const std::string address = "10.0." + std::to_string(a / 100) + "." + std::to_string(a % 100);
        admitted += Admitted(budget, address.c_str(), 20 + a, t0, 100);
    }
    EXPECT_EQ(admitted, 64 * 1024 / 100);
    // A second later: what it refilled, and what was left of the burst.
    EXPECT_EQ(Admitted(budget, "10.1.0.1", 100, t0 + 1s, 100) + Admitted(budget, "10.1.0.2", 100, t0 + 1s, 100),
              (64 * 1024 % 100 + 10 * 1024) / 100);
    const std::vector<std::string> summaries = budget.TakeSummaries();
    ASSERT_EQ(summaries.size(), CLogBudget::kMaxSummaries + 1);
    EXPECT_EQ(summaries.front(), "... 219 lines about 10.0.1.99 not logged");
    EXPECT_EQ(summaries.back().rfind("... ", 0), 0u);
    EXPECT_NE(summaries.back().find(" lines about other addresses not logged"), std::string::npos);
}
