#include "ServerFixture.h"

namespace {

// A started server with one signed-on member, Ann.
class CDispatchTest : public CServerTest {
protected:
    void SetUp() override
    {
        CServerTest::SetUp();
        m_pAnn = AddMember("Ann", 15, m_ann);
        m_view.m_log.clear();
    }
    // Send from peer and pump until the server has read it: counted, logged
    // or both.
    void Deliver(const CLoopbackDatagram& peer, const std::string& bytes)
    {
        const std::int64_t read = g_bytesRead;
        const std::size_t logged = m_view.m_log.size();
        peer.SendToServer(bytes);
        ASSERT_TRUE(Pump([&] { return g_bytesRead != read || m_view.m_log.size() != logged; }));
    }

    CLoopbackDatagram m_ann;
    CUserInfo* m_pAnn = nullptr;
};

}  // namespace

TEST_F(CDispatchTest, UnknownTypesAreLoggedSignedAndNotCounted)
{
    struct {
        unsigned char type;
        int shown;
    } const cases[] = {{0, 0}, {4, 4}, {6, 6}, {0x7F, 127}, {0x80, -128}, {200, -56}, {0xFF, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        m_view.m_log.clear();
        const std::int64_t read = g_bytesRead;
        const std::string datagram = std::string(1, static_cast<char>(c.type)) + "abc";
        Deliver(m_ann, datagram + '\0' + "tail");
        const std::string packet = c.type == 0 ? "" : datagram;
        EXPECT_EQ(m_view.m_log, (std::vector<std::string>{
                                    "Unkown packet of type " + std::to_string(c.shown) + " detected!",
                                    "Packet was: " + packet}));
        EXPECT_EQ(g_bytesRead, read);
        EXPECT_TRUE(m_ann.Idle());
    }
}

TEST_F(CDispatchTest, KnownTypesAreCountedWhole)
{
    // HDR_NEW is refused with its line, HDR_PING changes only the count.
    std::int64_t read = g_bytesRead;
    Deliver(m_ann, std::string("\x01 5 Eve", 8));
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"HDR_NEW is an illegal packet type to be sent to the server!"});
    EXPECT_EQ(g_bytesRead - read, 8);
    EXPECT_EQ(m_view.m_traffic.back().read, g_bytesRead);

    m_view.m_log.clear();
    read = g_bytesRead;
    Deliver(m_ann, "\x05" + std::string(510, 'p'));  // the largest datagram that fits
    EXPECT_TRUE(m_view.m_log.empty());
    EXPECT_EQ(g_bytesRead - read, 511);
    EXPECT_TRUE(m_ann.Idle());

    // A chat text ends at its zero byte, or at the end of the datagram.
    read = g_bytesRead;
    Deliver(m_ann, std::string("\x02hi\0junk", 8));
    EXPECT_EQ(m_ann.Next(), std::string("\x02<Ann> hi", 10));
    Deliver(m_ann, "\x02yo");
    EXPECT_EQ(m_ann.Next(), std::string("\x02<Ann> yo", 10));
    EXPECT_EQ(g_bytesRead - read, 8 + 3);
}

TEST_F(CDispatchTest, FailedAndEmptyReceivesAreNotCounted)
{
    const std::int64_t read = g_bytesRead;
    Deliver(m_ann, std::string(512, '\x05'));
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"Recieve Error!"});
    EXPECT_EQ(g_bytesRead, read);

    // An empty datagram leaves no trace; the ping after it shows it was read.
    m_view.m_log.clear();
    m_ann.SendToServer("");
    Deliver(m_ann, std::string("\x05", 2));
    EXPECT_TRUE(m_view.m_log.empty());
    EXPECT_EQ(g_bytesRead - read, 2);
}

TEST_F(CDispatchTest, ChatIsRelayedToEveryMemberSenderIncluded)
{
    CLoopbackDatagram bob, cy;
    AddMember("Bob", 1, bob);
    AddMember("Cy", 2, cy);
    m_ann.Next();
    m_ann.Next();
    m_ann.Next();
    m_ann.Next();
    bob.Next();
    bob.Next();
    m_view.m_log.clear();
    Deliver(bob, std::string("\x02hello there", 13));
    const std::string relay("\x02<Bob> hello there", 19);
    for (const CLoopbackDatagram* pPeer : {&m_ann, &bob, &cy})
        EXPECT_EQ(pPeer->Next(), relay);
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{relay.substr(0, 18)});
}

TEST_F(CDispatchTest, LeaveReachesTheLeaverThenOnlyStrangersAreRefused)
{
    CLoopbackDatagram bob;
    AddMember("Bob", 1, bob);
    m_ann.Next();
    m_ann.Next();
    m_view.m_log.clear();
    const std::size_t redraws = m_view.m_userLists.size();

    Deliver(bob, std::string("\x03", 2));
    for (const CLoopbackDatagram* pPeer : {&bob, &m_ann}) {
        EXPECT_EQ(pPeer->Next(), std::string("\x03" "Bob", 5));
        EXPECT_EQ(pPeer->Next(), std::string("\x02* Bob has left the chat!", 26));
    }
    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"\x03" "Bob", "\x02* Bob has left the chat!"}));
    ASSERT_EQ(m_view.m_userLists.size(), redraws + 1);  // one redraw, after the removal
    EXPECT_EQ(m_view.m_userLists.back(), std::vector<std::string>{"Ann"});

    // Bob's address is a stranger's now, as is Ann's host on another port;
    // nothing from a stranger is acted on or counted, whatever its type.
    CLoopbackDatagram stranger;
    for (const CLoopbackDatagram* pPeer : {&bob, &stranger}) {
        for (const std::string& datagram : {std::string("\x03", 2), std::string("\x02hi", 4), std::string("\x04", 2)}) {
            m_view.m_log.clear();
            const std::int64_t read = g_bytesRead;
            Deliver(*pPeer, datagram);
            EXPECT_EQ(m_view.m_log, std::vector<std::string>{"packet detected from unknown user not signed on!"});
            EXPECT_EQ(g_bytesRead, read);
        }
    }
    EXPECT_EQ(Members(), 1);
    EXPECT_TRUE(m_ann.Idle());
}
