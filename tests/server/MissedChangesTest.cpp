#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MissedChanges.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {
CUserInfo User(const std::string& name, std::int32_t ping)
{
    CUserInfo user;
    user.m_name = name;
    user.m_ping = ping;
    return user;
}
}  // namespace

// Listed: Ann and Bob. Since: Cy and Dee join, Ann leaves, Dee leaves, and a
// new Ann joins. A copy of the listed room brought up to date must lose the
// old Ann before it gains the new one, and never hear of Dee.
TEST(CMissedChangesTest, LeavesOfListedMembersGoFirstThenJoinsOldestFirst)
{
    CUserInfo ann = User("Ann", 1), cy = User("Cy", 3), dee = User("Dee", 4), newAnn = User("Ann", 5);
    CMissedChanges missed;
    EXPECT_TRUE(missed.Datagrams().empty());
    missed.Joined(&cy);
    missed.Joined(&dee);
    missed.Leaving(&ann);
    missed.Leaving(&dee);
    missed.Joined(&newAnn);
    EXPECT_EQ(missed.Datagrams(), (std::vector<std::string>{FormatLeave("Ann"), FormatNew(3, "Cy"), FormatNew(5, "Ann")}));
}
