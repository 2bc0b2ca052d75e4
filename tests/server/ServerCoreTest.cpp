#include <algorithm>
#include <cerrno>

#include "PortHolder.h"
#include "ServerFixture.h"
#include "SyscallShim.h"

using namespace std::chrono_literals;

namespace {

// A server that is not started by its fixture.
class CServerStartTest : public testing::Test {
protected:
    CPortLock m_lock;
    CPollLoop m_loop;
    CRecordingView m_view;
    CChatServer m_server;
};

}  // namespace

TEST_F(CServerStartTest, TakenSignOnPortFailsWithItsMessage)
{
    CPortHolder blocker(SOCK_STREAM, SIGNON_PORT);
    ASSERT_TRUE(blocker.Held());
    EXPECT_TRUE(m_server.Start(&m_view));
    EXPECT_EQ(m_view.m_messages, std::vector<std::string>{"TCP/IP create error"});
    EXPECT_TRUE(m_view.m_log.empty());
}

TEST_F(CServerStartTest, TakenDatagramPortFailsAndLeavesTheLoopQuiet)
{
    CPortHolder blocker(SOCK_DGRAM, BROADCAST_PORT);
    ASSERT_TRUE(blocker.Held());
    EXPECT_TRUE(m_server.Start(&m_view));
    EXPECT_EQ(m_view.m_messages, std::vector<std::string>{"UDP create error"});
    // The listener stays open until the core goes, but a socket that never
    // reached listening must not wake the loop (a window's message box keeps
    // the loop running).
    EXPECT_EQ(m_loop.RunOnce(0), 0);
    EXPECT_TRUE(m_view.m_log.empty());
}

TEST_F(CServerTest, AnnouncementsReachEveryMemberWithTheBytesOfTheWire)
{
    CLoopbackDatagram ann, bob;
    auto* pAnn = new CUserInfo;
    pAnn->m_name = "Ann";
    pAnn->m_ping = 15;
    pAnn->m_addr = ann.Address();
    m_server.AddUser(pAnn);
    EXPECT_EQ(ann.Next(), std::string("\x01\x20\x31\x35\x20\x41\x6E\x6E\x00", 9));
    EXPECT_EQ(ann.Next(), std::string("\x02* Ann has joined the chat!", 28));

    // Bob's figures: HDR_NEW 9 bytes and the join line 28, to each member.
    const std::int64_t written = g_bytesWritten;
    AddMember("Bob", 15, bob);
    EXPECT_EQ(g_bytesWritten - written, 2 * (9 + 28));
    EXPECT_EQ(ann.Next(), std::string("\x01 15 Bob", 9));
    EXPECT_EQ(ann.Next(), std::string("\x02* Bob has joined the chat!", 28));
    EXPECT_EQ(m_view.m_userLists.back(), (std::vector<std::string>{"Bob", "Ann"}));
    EXPECT_EQ(m_view.LogFrom(2), (std::vector<std::string>{"\x01 15 Bob", "\x02* Bob has joined the chat!"}));
    EXPECT_EQ(m_view.m_traffic.back().written, g_bytesWritten);

    // The relay of a two-letter line is 10 bytes; the leave datagrams 5 and 26.
    const std::int64_t beforeRelay = g_bytesWritten;
    bob.SendToServer(std::string("\x02hi", 4));
    ASSERT_TRUE(Pump([&] { return g_bytesWritten > beforeRelay; }));
    EXPECT_EQ(g_bytesWritten - beforeRelay, 2 * 10);
    EXPECT_EQ(bob.Next(), std::string("\x02<Bob> hi", 10));
    EXPECT_EQ(ann.Next(), std::string("\x02<Bob> hi", 10));

    const std::int64_t beforeLeave = g_bytesWritten;
    bob.SendToServer(std::string("\x03", 2));
    ASSERT_TRUE(Pump([&] { return Members() == 1; }));
    EXPECT_EQ(g_bytesWritten - beforeLeave, 2 * (5 + 26));
    for (const CLoopbackDatagram* pPeer : {&bob, &ann}) {
        EXPECT_EQ(pPeer->Next(), std::string("\x03" "Bob", 5));
        EXPECT_EQ(pPeer->Next(), std::string("\x02* Bob has left the chat!", 26));
    }
    EXPECT_EQ(m_view.m_userLists.back(), std::vector<std::string>{"Ann"});
}

TEST_F(CServerTest, FailedSendCostsNoOtherMemberItsDatagramAndTheLogShowsWhatWentOut)
{
    // Roster, head first: Cy, Bad, Al. Datagrams to port 0 fail (EINVAL).
    CLoopbackDatagram al, cy;
    AddMember("Al", 0, al);
    auto* pBad = new CUserInfo;
    pBad->m_name = "Bad";
    pBad->m_addr = LoopbackAddress(0);
    m_server.AddUser(pBad);
    // The join line still went out after HDR_NEW failed to reach Bad; each
    // text that reached someone is logged after its failure.
    EXPECT_EQ(al.Next(), std::string("\x01 0 Bad", 8));
    EXPECT_EQ(al.Next(), std::string("\x02* Bad has joined the chat!", 28));
    const std::string error = "Error: " + std::to_string(EINVAL);
    EXPECT_EQ(m_view.LogFrom(2), (std::vector<std::string>{error, "\x01 0 Bad", error, "\x02* Bad has joined the chat!"}));
    AddMember("Cy", 0, cy);
    al.Next();
    al.Next();

    std::size_t logged = m_view.m_log.size();
    const std::int64_t written = g_bytesWritten;
    EXPECT_TRUE(m_server.SendToAll("\x02x", ELogLevel::Info));
    EXPECT_EQ(cy.Next(), std::string("\x02x", 3));
    EXPECT_EQ(al.Next(), std::string("\x02x", 3));
    EXPECT_EQ(g_bytesWritten - written, 2 * 3);
    EXPECT_EQ(m_view.LogFrom(logged), (std::vector<std::string>{error, "\x02x"}));

    // A leave that misses a member still removes the leaver.
    logged = m_view.m_log.size();
    EXPECT_TRUE(m_server.RemoveUser(pBad));
    EXPECT_EQ(Members(), 2);
    EXPECT_EQ(m_view.m_userLists.back(), (std::vector<std::string>{"Cy", "Al"}));
    EXPECT_EQ(m_view.LogFrom(logged), (std::vector<std::string>{error, "\x03" "Bad", error, "\x02* Bad has left the chat!"}));
    for (const CLoopbackDatagram* pPeer : {&cy, &al}) {
        EXPECT_EQ(pPeer->Next(), std::string("\x03" "Bad", 5));
        EXPECT_EQ(pPeer->Next(), std::string("\x02* Bad has left the chat!", 26));
    }
    EXPECT_FALSE(m_server.SendToAll("\x02y", ELogLevel::Info));
    EXPECT_EQ(m_view.m_log.back(), "\x02y");

    // A text that reached no member at all is not logged; its failures are.
    for (CUserNode* pNode = m_server.GetUserList()->m_pHead; pNode; pNode = pNode->pNext)
        pNode->pUser->m_addr.sin_port = 0;
    logged = m_view.m_log.size();
    EXPECT_TRUE(m_server.SendToAll("\x02z", ELogLevel::Info));
    EXPECT_EQ(m_view.LogFrom(logged), (std::vector<std::string>{error, error}));
}

// One socket, one member: a newcomer at a member's address and port is that
// socket's new self, and the earlier record leaves as if it had signed off.
TEST_F(CServerTest, NewcomerAtAMembersAddressAndPortReplacesIt)
{
    CLoopbackDatagram ann, shared;
    AddMember("Ann", 0, ann);
    AddMember("Old", 3, shared);
    ann.Next();
    ann.Next();
    auto* pNew = new CUserInfo;
    pNew->m_name = "New";
    pNew->m_ping = 4;
    pNew->m_addr = shared.Address();
    m_server.AddUser(pNew);
    for (const CLoopbackDatagram* pPeer : {&shared, &ann}) {
        EXPECT_EQ(pPeer->Next(), FormatLeave("Old") + '\0');
        EXPECT_EQ(pPeer->Next(), FormatLeaveLine("Old") + '\0');
        EXPECT_EQ(pPeer->Next(), FormatNew(4, "New") + '\0');
        EXPECT_EQ(pPeer->Next(), FormatJoinLine("New") + '\0');
    }
    EXPECT_EQ(m_view.m_userLists.back(), (std::vector<std::string>{"New", "Ann"}));

    // Its lines relay under the new name, once; its leave leaves no one behind.
    shared.SendToServer(FormatChat("hi") + '\0');
    ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatRelay("New", "hi")); }));
    EXPECT_EQ(shared.Next(), FormatRelay("New", "hi") + '\0');
    EXPECT_TRUE(shared.Idle());
    shared.SendToServer(FormatBare(HDR_LEAVE) + '\0');
    ASSERT_TRUE(Pump([&] { return Members() == 1; }));
    EXPECT_EQ(m_view.m_userLists.back(), std::vector<std::string>{"Ann"});
}

// Out of descriptors, accept fails while the connection stays queued, so
// the listener would be ready again at once: it says so once and rests.
TEST_F(CServerTest, FailedAcceptIsLoggedOnceAndTheListenerRests)
{
    CLoopbackDatagram peer;
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(SignOnBytes("Ann", peer));
    int delivered = 0;
    {
        CFailCalls noDescriptors(g_nFailAccept, EMFILE);
        const auto until = std::chrono::steady_clock::now() + 500ms;
        while (std::chrono::steady_clock::now() < until)
            delivered += std::max(0, m_loop.RunOnce(5));
    }
    // A listener that never rests is told of the same connection on every
    // pass, hundreds of times here; resting, it looks a few times a second.
    EXPECT_LE(delivered, 20);
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"Could not accept a connection: Error: " + std::to_string(EMFILE)});
    // Once a descriptor is free again, the waiting connection signs on.
    EXPECT_TRUE(Pump([&] { return Members() == 1; }));
}

TEST_F(CServerTest, ShutdownTellsEveryMemberThenClosesBothPorts)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 1, ann);
    AddMember("Bob", 2, bob);
    ann.Next();
    ann.Next();
    m_server.Shutdown();
    EXPECT_EQ(ann.Next(), std::string("\x04", 2));
    EXPECT_EQ(bob.Next(), std::string("\x04", 2));
    EXPECT_EQ(m_view.m_log.back(), "\x04");
    EXPECT_EQ(Members(), 2);  // records stay until the core goes

    CLoopbackStream late(SIGNON_PORT);
    EXPECT_FALSE(late.IsOpen());
    CPortHolder udp(SOCK_DGRAM, BROADCAST_PORT);
    EXPECT_TRUE(udp.Held());
}

TEST_F(CServerTest, ShutdownOfAnEmptyRoomLogsTheBareTypeByte)
{
    m_server.Shutdown();
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"\x04"});
}

TEST(CServerLifeTest, DestroyingTheCoreSendsNothing)
{
    CPortLock lock;
    CPollLoop loop;
    CRecordingView view;
    CLoopbackDatagram ann;
    {
        CChatServer server;
        ASSERT_FALSE(server.Start(&view));
        auto* pAnn = new CUserInfo;
        pAnn->m_addr = ann.Address();
        server.AddUser(pAnn);
        ann.Next();
        ann.Next();
    }
    EXPECT_TRUE(ann.Idle());
    CLoopbackStream late(SIGNON_PORT);
    EXPECT_FALSE(late.IsOpen());
}
