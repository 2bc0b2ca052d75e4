// Client cores against the real server, zephran-server, in a child process:
// signing on, seeing each other, chatting, leaving, and the server's end.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ChatClient.h"
#include "Loopback.h"
#include "PollLoop.h"
#include "RecordingView.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "Traffic.h"

namespace {

// One person: a client core with its own window.
struct CPerson {
    explicit CPerson(std::string name) : m_name(std::move(name)) { m_client.Init(&m_view); }

    bool Logon()
    {
        return m_client.Logon(LoopbackAddressOnly(), m_name);
    }
    // The users box without the pings, which the server measures.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const std::string& line : m_view.m_users)
            names.push_back(line.substr(0, line.rfind(" (")));
        return names;
    }

    std::string m_name;
    CRecordingView m_view;
    CChatClient m_client;
};

class CClientServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_server.StartListening()) << "zephran-server did not start"; }

    // Sign on and wait for the server's announcement of this person to reach
    // everyone signed on.
    void Join(CPerson& person, const std::vector<CPerson*>& room)
    {
        const std::string joined = "* " + person.m_name + " has joined the chat!";
        std::vector<std::size_t> seenBefore;
        for (CPerson* pMember : room)
            seenBefore.push_back(Count(pMember->m_view.m_log, joined));
        ASSERT_FALSE(person.Logon());
        for (std::size_t k = 0; k < room.size(); ++k)
            ASSERT_TRUE(PumpUntil(m_loop, [&] { return Count(room[k]->m_view.m_log, joined) > seenBefore[k]; }))
                << room[k]->m_name;
    }

    static std::size_t Count(const std::vector<std::string>& logs, const std::string& line)
    {
        return static_cast<std::size_t>(std::count(logs.begin(), logs.end(), line));
    }

    bool EveryoneLogs(const std::vector<CPerson*>& room, const std::string& line)
    {
        return PumpUntil(m_loop, [&] {
            for (CPerson* pMember : room)
                if (!pMember->m_view.Logged(line))
                    return false;
            return true;
        });
    }

    CPortLock m_lock;
    CPollLoop m_loop;
    CServerProcess m_server;
};

}  // namespace

TEST_F(CClientServerTest, TwoClientsSignOnChatAndLeave)
{
    CPerson ann("Ann");
    CPerson bob("Bob");

    Join(ann, {&ann});
    EXPECT_EQ(ann.Names(), std::vector<std::string>{"Ann"});
    Join(bob, {&ann, &bob});
    EXPECT_EQ(ann.Names(), (std::vector<std::string>{"Bob", "Ann"}));
    EXPECT_EQ(bob.Names(), (std::vector<std::string>{"Bob", "Ann"}));

    // Each line comes back to its sender too.
    ann.m_client.SendChat("hello, Bob");
    EXPECT_TRUE(EveryoneLogs({&ann, &bob}, "<Ann> hello, Bob"));
    bob.m_client.SendChat("hi Ann");
    EXPECT_TRUE(EveryoneLogs({&ann, &bob}, "<Bob> hi Ann"));

    bob.m_client.Disconnect();
    EXPECT_TRUE(EveryoneLogs({&ann}, "* Bob has left the chat!"));
    EXPECT_EQ(ann.Names(), std::vector<std::string>{"Ann"});
    EXPECT_TRUE(bob.m_view.m_users.empty());

    ann.m_client.Disconnect();
    EXPECT_FALSE(ann.m_client.IsConnected());
    EXPECT_EQ(m_server.Stop(), 0);
}

TEST_F(CClientServerTest, ThreeClientsOutliveTheServerAndSignOnAgain)
{
    CPerson ann("Ann");
    CPerson bob("Bob");
    CPerson cy("Cy");

    Join(ann, {&ann});
    Join(bob, {&ann, &bob});
    Join(cy, {&ann, &bob, &cy});
    // Joins go on top; a newcomer's room list arrives oldest first.
    EXPECT_EQ(ann.Names(), (std::vector<std::string>{"Cy", "Bob", "Ann"}));
    EXPECT_EQ(bob.Names(), (std::vector<std::string>{"Cy", "Bob", "Ann"}));
    EXPECT_EQ(cy.Names(), (std::vector<std::string>{"Cy", "Ann", "Bob"}));

    cy.m_client.SendChat("hello all");
    EXPECT_TRUE(EveryoneLogs({&ann, &bob, &cy}, "<Cy> hello all"));

    bob.m_client.Disconnect();
    EXPECT_TRUE(EveryoneLogs({&ann, &cy}, "* Bob has left the chat!"));
    EXPECT_EQ(ann.Names(), (std::vector<std::string>{"Cy", "Ann"}));
    EXPECT_EQ(cy.Names(), (std::vector<std::string>{"Cy", "Ann"}));

    EXPECT_EQ(m_server.Stop(), 0);
    EXPECT_TRUE(EveryoneLogs({&ann, &cy}, "Disconnected."));
    for (CPerson* pMember : {&ann, &cy}) {
        const std::vector<std::string>& logs = pMember->m_view.m_log;
        ASSERT_GE(logs.size(), 2u);
        EXPECT_EQ(logs[logs.size() - 2], "The server was terminated.") << pMember->m_name;
        EXPECT_FALSE(pMember->m_client.IsConnected());
        EXPECT_TRUE(pMember->m_view.m_users.empty());
        EXPECT_EQ(pMember->m_client.Roster().m_nCount, 0);
    }
    EXPECT_FALSE(bob.m_view.Logged("The server was terminated."));

    // A new server, a fresh sign-on; the totals go on from where they were.
    const std::int64_t readBefore = g_bytesRead;
    const std::int64_t writtenBefore = g_bytesWritten;
    ASSERT_FALSE(m_server.StartListening());
    Join(ann, {&ann});
    EXPECT_EQ(ann.Names(), std::vector<std::string>{"Ann"});
    EXPECT_GT(g_bytesRead, readBefore);
    EXPECT_GT(g_bytesWritten, writtenBefore);
    ann.m_client.Disconnect();
    EXPECT_EQ(m_server.Stop(), 0);
}
