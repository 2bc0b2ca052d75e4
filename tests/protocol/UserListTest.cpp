#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UserInfo.h"
#include "UserList.h"

namespace {

CUserInfo* User(const std::string& name)
{
    auto* p = new CUserInfo;
    p->m_name = name;
    return p;
}

// Names from the head, checking that the count matches the links.
std::vector<std::string> Names(const CUserList& list)
{
    std::vector<std::string> names;
    for (CUserNode* p = list.m_pHead; p; p = p->pNext)
        names.push_back(p->pUser->m_name);
    EXPECT_EQ(static_cast<std::size_t>(list.m_nCount), names.size());
    return names;
}

// A counted walk that removes every record named `name`.
void RemoveNamed(CUserList& list, const std::string& name)
{
    int n = list.m_nCount;
    list.BeginWalk();
    for (int i = 0; i < n; ++i) {
        if (list.Current()->m_name == name)
            list.RemoveCurrent();
        else
            list.Advance();
    }
}

using V = std::vector<std::string>;

}  // namespace

TEST(CUserListTest, AddHeadMakesTheListNewestFirst)
{
    CUserList list;
    EXPECT_EQ(list.m_pHead, nullptr);
    list.AddHead(User("a"));
    list.AddHead(User("b"));
    list.AddHead(User("c"));
    EXPECT_EQ(Names(list), (V{"c", "b", "a"}));
    EXPECT_EQ(list.m_pCur, nullptr);  // AddHead leaves the walk alone
}

TEST(CUserListTest, RemoveCurrentAtHeadMiddleTailAndOnly)
{
    CUserList list;
    for (const char* n : {"d", "c", "b", "a"})
        list.AddHead(User(n));  // a b c d

    RemoveNamed(list, "a");  // head
    EXPECT_EQ(Names(list), (V{"b", "c", "d"}));
    RemoveNamed(list, "c");  // middle
    EXPECT_EQ(Names(list), (V{"b", "d"}));
    RemoveNamed(list, "d");  // tail: previous becomes the tail
    EXPECT_EQ(Names(list), (V{"b"}));
    EXPECT_EQ(list.m_pHead->pNext, nullptr);
    RemoveNamed(list, "b");  // only link
    EXPECT_EQ(list.m_pHead, nullptr);
    EXPECT_EQ(list.m_nCount, 0);
}

TEST(CUserListTest, RemovingCursorMovesOnAndKeepsPrevious)
{
    CUserList list;
    for (const char* n : {"c", "b", "a"})
        list.AddHead(User(n));
    list.BeginWalk();
    list.Advance();  // at b, previous a
    list.RemoveCurrent();
    ASSERT_NE(list.Current(), nullptr);
    EXPECT_EQ(list.Current()->m_name, "c");
    EXPECT_EQ(list.m_pPrev->pUser->m_name, "a");
    EXPECT_EQ(Names(list), (V{"a", "c"}));
}

TEST(CUserListTest, WalkThatRemovesEverythingAndDuplicates)
{
    CUserList list;
    for (const char* n : {"x", "Ann", "Ann", "y", "Ann"})
        list.AddHead(User(n));
    RemoveNamed(list, "Ann");  // every record of the name goes, not only the first
    EXPECT_EQ(Names(list), (V{"y", "x"}));

    int n = list.m_nCount;
    list.BeginWalk();
    for (int i = 0; i < n; ++i)
        list.RemoveCurrent();
    EXPECT_EQ(list.m_pHead, nullptr);
    EXPECT_EQ(list.m_nCount, 0);

    list.RemoveAll();  // on an empty list: nothing changes
    EXPECT_EQ(list.m_nCount, 0);
    list.AddHead(User("z"));
    list.BeginWalk();
    list.RemoveAll();
    EXPECT_EQ(list.m_pCur, nullptr);
    EXPECT_EQ(list.m_pPrev, nullptr);
    EXPECT_EQ(list.m_pHead, nullptr);
}

TEST(CUserListTest, RecordsAreFreedThroughTheVirtualDestructor)
{
    static int s_destroyed = 0;
    struct CCounted : CUserInfo {
        ~CCounted() override { ++s_destroyed; }
    };
    s_destroyed = 0;
    {
        CUserList list;
        for (int i = 0; i < 3; ++i)
            list.AddHead(new CCounted);
        list.BeginWalk();
        list.RemoveCurrent();
        EXPECT_EQ(s_destroyed, 1);
    }
    EXPECT_EQ(s_destroyed, 3);  // the list's destructor frees the rest
}
