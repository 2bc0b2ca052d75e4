// The signed-on client against a scripted server: what each datagram from
// the server does, what the client sends, and what never reaches it.

#include <cstdint>
#include <string>
#include <vector>

#include "Bytes.h"
#include "ClientFixture.h"
#include "LoopbackDatagram.h"
#include "Traffic.h"

namespace {

std::string Datagram(char type, const std::string& text) { return std::string(1, type) + text + '\0'; }

const std::string kSentinel = Datagram(2, "sentinel");

}  // namespace

class CClientDatagramTest : public CClientFixture {
protected:
    void SetUp() override
    {
        CClientFixture::SetUp();
        CSignOnRecord seen;
        ASSERT_FALSE(LogonWith("Ann", AcceptingScript({}, 4, &seen)));
        m_port = seen.NoticedPort();
        ASSERT_NE(m_port, 0);
        m_view.m_log.clear();
        m_view.m_events.clear();
    }

    void Send(const std::string& bytes) { m_server.SendDatagram(m_port, bytes); }

    // Send the sentinel behind what was sent before and wait until it is
    // handled: everything before it has been handled too.
    bool Settle()
    {
        Send(kSentinel);
        return Pump([&] { return !m_view.m_log.empty() && m_view.m_log.back() == "sentinel"; });
    }

    // Nothing reached the server's datagram port. Datagrams on loopback are
    // queued by the time the send returns, so no wait is needed.
    bool NothingSent()
    {
        std::string bytes;
        return !m_server.ReceiveDatagram(&bytes, 0);
    }

    std::uint16_t m_port = 0;
};

TEST_F(CClientDatagramTest, PingIsAnsweredWithTypeFiveAndCountedBothWays)
{
    const std::int64_t readBefore = g_bytesRead;
    const std::int64_t writtenBefore = g_bytesWritten;

    Send(Bytes({5, 0}));
    ASSERT_TRUE(Pump([&] { return g_bytesWritten - writtenBefore == 2; }));

    std::string answer;
    ASSERT_TRUE(m_server.ReceiveDatagram(&answer));
    EXPECT_EQ(answer, Bytes({5, 0}));
    EXPECT_EQ(g_bytesRead - readBefore, 2);
    EXPECT_EQ(m_view.m_events.back(), "traffic");
}

TEST_F(CClientDatagramTest, JoinsGoToTheTopAndOneLeaveRemovesEveryUserOfThatName)
{
    const std::int64_t readBefore = g_bytesRead;
    const std::vector<std::string> joins = {Datagram(1, " 15 Ann"), Datagram(1, " 3  Bob"),
                                            Datagram(1, " 7 Ann"), Datagram(1, " 2 ann")};
    for (const std::string& join : joins)
        Send(join);
    ASSERT_TRUE(Pump([&] { return m_client.Roster().m_nCount == 4; }));
    EXPECT_EQ(m_view.m_users, (std::vector<std::string>{"ann (2)", "Ann (7)", "Bob (3)", "Ann (15)"}));

    Send(Datagram(3, "Ann"));
    ASSERT_TRUE(Pump([&] { return m_client.Roster().m_nCount == 2; }));
    // The comparison is exact: "ann" is someone else.
    EXPECT_EQ(m_view.m_users, (std::vector<std::string>{"ann (2)", "Bob (3)"}));

    // A leave for nobody removes nothing but still redraws.
    m_view.m_events.clear();
    Send(Datagram(3, "Zed"));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.m_events.front(), "users");
    EXPECT_EQ(m_client.Roster().m_nCount, 2);

    std::int64_t expected = static_cast<std::int64_t>(kSentinel.size()) + 5 + 5;  // sentinel, two leaves
    for (const std::string& join : joins)
        expected += static_cast<std::int64_t>(join.size());
    EXPECT_EQ(g_bytesRead - readBefore, expected);
}

TEST_F(CClientDatagramTest, ChatTextIsLoggedWithoutTheTypeByteUpToTheZero)
{
    const std::int64_t readBefore = g_bytesRead;
    const std::string longest = Datagram(2, std::string(509, 'w'));  // 511 bytes, the most that fits

    Send(Datagram(2, "<Bob> hi there"));
    Send(std::string("\x02" "no zero", 8));
    Send(std::string("\x02" "cut\0after", 10));
    Send(Datagram(2, "* Bob has joined the chat!"));
    Send(longest);
    ASSERT_TRUE(Settle());

    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"<Bob> hi there", "no zero", "cut",
                                                       "* Bob has joined the chat!", std::string(509, 'w'),
                                                       "sentinel"}));
    EXPECT_EQ(g_bytesRead - readBefore, 16 + 8 + 10 + 28 + 511 + static_cast<std::int64_t>(kSentinel.size()));
}

TEST_F(CClientDatagramTest, FaultyDatagramsAreReportedOrDroppedAndNeverCounted)
{
    const std::int64_t readBefore = g_bytesRead;
    const std::int64_t writtenBefore = g_bytesWritten;

    Send(Bytes({0, 0}));
    Send(Bytes({6, 0}));
    Send(Bytes({0xFF, 'x', 0}));
    Send(Bytes({0x80}));
    Send(std::string());                               // no type byte at all: dropped without a word
    Send(Datagram(2, std::string(510, 'o')));          // 512 bytes: one too many
    Send(Datagram(1, " 1 " + std::string(600, 'o')));  // far too long, and not added
    ASSERT_TRUE(Settle());

    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"Unkown packet type!!!", "Unkown packet type!!!",
                                                       "Unkown packet type!!!", "Unkown packet type!!!",
                                                       "Recieve Error!!!!", "Recieve Error!!!!", "sentinel"}));
    EXPECT_EQ(g_bytesRead - readBefore, static_cast<std::int64_t>(kSentinel.size()));
    EXPECT_EQ(g_bytesWritten, writtenBefore);
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_TRUE(m_client.IsConnected());
}

TEST_F(CClientDatagramTest, DatagramsFromAnyOtherPortNeverReachTheHandlers)
{
    {
        const CLoopbackDatagram intruder;
        ASSERT_TRUE(intruder.Bound());
        for (const std::string& bytes : {Datagram(2, "intruder"), Datagram(1, " 1 Mallory"), Bytes({4, 0})})
            intruder.SendTo(m_port, bytes);
    }

    ASSERT_TRUE(Settle());
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"sentinel"});
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_TRUE(m_client.IsConnected());
}

TEST_F(CClientDatagramTest, LinesGoOutOnlyWhileConnected)
{
    const std::int64_t writtenBefore = g_bytesWritten;

    m_client.SendChat("hi there");
    std::string bytes;
    ASSERT_TRUE(m_server.ReceiveDatagram(&bytes));
    EXPECT_EQ(bytes, Datagram(2, "hi there"));
    EXPECT_EQ(g_bytesWritten - writtenBefore, 10);
    // Not echoed locally: the line shows when the server relays it.
    EXPECT_TRUE(m_view.m_log.empty());

    m_client.Disconnect();
    ASSERT_TRUE(m_server.ReceiveDatagram(&bytes));
    const std::int64_t writtenAfterLeave = g_bytesWritten;
    m_client.SendChat("anyone?");
    EXPECT_EQ(m_view.m_log.back(), "You are not connected to the server!");
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(g_bytesWritten, writtenAfterLeave);
}

TEST_F(CClientDatagramTest, DisconnectSendsOneLeaveAndEmptiesTheRoom)
{
    Send(Datagram(1, " 15 Ann"));
    Send(Datagram(1, " 3 Bob"));
    ASSERT_TRUE(Pump([&] { return m_client.Roster().m_nCount == 2; }));
    const std::int64_t writtenBefore = g_bytesWritten;

    m_client.Disconnect();

    std::string bytes;
    ASSERT_TRUE(m_server.ReceiveDatagram(&bytes));
    EXPECT_EQ(bytes, Bytes({3, 0}));
    EXPECT_EQ(g_bytesWritten - writtenBefore, 2);
    EXPECT_FALSE(m_client.IsConnected());
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_EQ(m_client.Roster().Current(), nullptr);
    EXPECT_EQ(m_view.m_events.back(), "clear");

    m_client.Disconnect();
    EXPECT_EQ(m_view.m_log.back(), "Already disconnected!");
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(g_bytesWritten - writtenBefore, 2);
}

TEST_F(CClientDatagramTest, LogonWhileConnectedChangesNothing)
{
    Send(Datagram(1, " 4 Ann"));
    ASSERT_TRUE(Pump([&] { return m_client.Roster().m_nCount == 1; }));
    const std::int64_t readBefore = g_bytesRead;
    const std::int64_t writtenBefore = g_bytesWritten;
    m_view.m_events.clear();

    EXPECT_FALSE(m_client.Logon(ServerAddress(), "Ann"));

    // The window put "?" in the count; the room is drawn again.
    EXPECT_EQ(m_view.m_events, (std::vector<std::string>{"log Already connected!", "users"}));
    EXPECT_EQ(m_view.m_users, std::vector<std::string>{"Ann (4)"});
    EXPECT_FALSE(m_server.HasPendingConnection());
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(g_bytesRead, readBefore);
    EXPECT_EQ(g_bytesWritten, writtenBefore);
    EXPECT_TRUE(m_client.IsConnected());
    EXPECT_EQ(m_client.Roster().m_nCount, 1);
    // The datagram socket is the same one, still listening.
    ASSERT_TRUE(Settle());
}

TEST_F(CClientDatagramTest, ShutdownDisconnectsAndLogonSignsOnAfresh)
{
    Send(Datagram(1, " 4 Ann"));
    ASSERT_TRUE(Pump([&] { return m_client.Roster().m_nCount == 1; }));
    const std::int64_t readBefore = g_bytesRead;
    m_view.m_log.clear();
    m_view.m_events.clear();

    Send(Bytes({4, 0}));
    ASSERT_TRUE(Pump([&] { return !m_client.IsConnected(); }));

    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"The server was terminated.", "Disconnected."}));
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_TRUE(m_view.m_users.empty());
    // Counted after the handler, though the socket is closed by then.
    EXPECT_EQ(g_bytesRead - readBefore, 2);
    EXPECT_EQ(m_view.m_events, (std::vector<std::string>{"log The server was terminated.", "log Disconnected.",
                                                         "clear", "traffic"}));

    m_client.Disconnect();
    EXPECT_EQ(m_view.m_log.back(), "Already disconnected!");
    EXPECT_TRUE(NothingSent());

    // A fresh sign-on with a new datagram socket; the totals go on counting.
    const std::int64_t readBeforeSecond = g_bytesRead;
    CSignOnRecord seen;
    ASSERT_FALSE(LogonWith("Ann", AcceptingScript({{"Bob", 9}}, 5, &seen)));
    EXPECT_TRUE(m_client.IsConnected());
    EXPECT_EQ(m_view.m_users, std::vector<std::string>{"Bob (9)"});
    EXPECT_EQ(g_bytesRead - readBeforeSecond, 1 + 4 + 12 + 1 + 1 + 4);
    m_port = seen.NoticedPort();
    ASSERT_TRUE(Settle());
}
