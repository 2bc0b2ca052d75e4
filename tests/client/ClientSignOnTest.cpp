// The client's side of the sign-on against a scripted server: the exact
// bytes, the log, the room copy, and every way a sign-on is given up.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "Bytes.h"
#include "ClientFixture.h"
#include "Traffic.h"
#include "Wire.h"

namespace {

const char kLost[] = "Error in sign-on -- The connection to the server was lost.";
const char kSilent[] = "Error in sign-on -- The server stopped answering.";
const char kBadRoom[] = "Error in sign-on -- The server sent a damaged room list.";

// Verdict 2 and the room list up to where a script breaks it off.
void AcceptUpToRoom(CLoopbackStream& s)
{
    ReadHello(s);
    s.Send(Bytes({PROTOCOL_VERSION}));
}

}  // namespace

using CClientSignOnTest = CClientFixture;

TEST_F(CClientSignOnTest, AcceptedSignOnLogsEveryStepAndKeepsTheRoomOldestFirst)
{
    const std::int64_t readBefore = g_bytesRead;
    const std::int64_t writtenBefore = g_bytesWritten;
    CSignOnRecord seen;

    ASSERT_FALSE(LogonWith("Ann", AcceptingScript({{"Bob", 10}, {"Cy", 20}}, 7, &seen)));

    EXPECT_TRUE(m_client.IsConnected());
    EXPECT_EQ(seen.hello, std::string("\x02" "Ann\0", 5));
    EXPECT_EQ(seen.echo1, Bytes({5}));
    EXPECT_EQ(seen.echo2, Bytes({0x77}));
    EXPECT_TRUE(seen.bClientClosed);
    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{
                                 "Connecting to server at: 127.0.0.1",
                                 "Connected.  Checking Version",
                                 "Checking version",
                                 "Version 2 verified.",
                                 "Receiving Room Information...",
                                 "Responding to server's ping",
                                 "\r\nServer reports a 7 ms ping time",
                                 "Moving to UDP broadcast port",
                                 "Sending contact information",
                             }));
    EXPECT_TRUE(m_view.m_messages.empty());
    // The server lists newest first; the copy keeps them oldest first.
    EXPECT_EQ(m_view.m_users, (std::vector<std::string>{"Cy (20)", "Bob (10)"}));
    EXPECT_EQ(m_client.Roster().m_nCount, 2);

    // Read: verdict, count, two entries, two probes, ping result.
    EXPECT_EQ(g_bytesRead - readBefore, 1 + 4 + (4 + 4 + 4) + (4 + 3 + 4) + 1 + 1 + 4);
    // Written: hello, two echoes, port notice.
    EXPECT_EQ(g_bytesWritten - writtenBefore, 5 + 1 + 1 + 2);

    // The port notice, read most significant byte first, is where the
    // client's datagram socket listens.
    ASSERT_NE(seen.NoticedPort(), 0);
    m_server.SendDatagram(seen.NoticedPort(), std::string("\x02" "welcome", 9));
    EXPECT_TRUE(Pump([&] { return m_view.Logged("welcome"); }));
}

TEST_F(CClientSignOnTest, EmptyNameAndMessagesInPiecesStillSignOn)
{
    CSignOnRecord seen;

    ASSERT_FALSE(LogonWith("", AcceptingScript({{"", 0}, {"Dee Dee", 123456}}, -1, &seen, true)));

    EXPECT_EQ(seen.hello, Bytes({0x02, 0x00}));
    EXPECT_EQ(seen.echo2, Bytes({0x77}));
    EXPECT_TRUE(m_view.Logged("\r\nServer reports a -1 ms ping time"));
    EXPECT_EQ(m_view.m_users, (std::vector<std::string>{"Dee Dee (123456)", " (0)"}));
    EXPECT_TRUE(m_view.m_messages.empty());
}

TEST_F(CClientSignOnTest, EntryOfTheLongestNameSignsOn)
{
    // 510 name bytes: all that a hello of 511 bytes carries. Li is 511.
    const std::string longest(510, 'n');
    CSignOnRecord seen;

    ASSERT_FALSE(LogonWith("Ann", AcceptingScript({{longest, 9}}, 1, &seen)));

    EXPECT_TRUE(m_view.m_messages.empty());
    EXPECT_EQ(m_view.m_users, std::vector<std::string>{longest + " (9)"});
}

TEST_F(CClientSignOnTest, EmptyRoomShowsAnEmptyUsersBox)
{
    CSignOnRecord seen;

    ASSERT_FALSE(LogonWith("Ann", AcceptingScript({}, 0, &seen)));

    EXPECT_TRUE(m_view.m_users.empty());
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    // The box is cleared once the version is accepted and drawn once the
    // (empty) room has arrived.
    const auto clear = std::find(m_view.m_events.begin(), m_view.m_events.end(), "clear");
    ASSERT_NE(clear, m_view.m_events.end());
    EXPECT_NE(std::find(clear, m_view.m_events.end(), "users"), m_view.m_events.end());
}

TEST_F(CClientSignOnTest, RefusedVersionLogsTheVerdictAndFails)
{
    for (int verdict : {3, 0xFF}) {
        SCOPED_TRACE(verdict);
        CRecordingView view;
        CChatClient client;
        client.Init(&view);
        const std::int64_t writtenBefore = g_bytesWritten;
        const std::int64_t readBefore = g_bytesRead;
        bool bClientClosed = false;

        m_server.Serve([&](CLoopbackStream& s) {
            ReadHello(s);
            s.Send(Bytes({verdict}));
            bClientClosed = s.PeerClosed(5000);
        });
        const bool failed = client.Logon(ServerAddress(), "Ann");
        m_server.Join();

        EXPECT_TRUE(failed);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(bClientClosed);
        // The window ends right after: the reason is in a message box too.
        const std::string reason =
            "Version 2 is not same as server's version " + std::to_string(verdict) + ".  Terminating...";
        ASSERT_FALSE(view.m_log.empty());
        EXPECT_EQ(view.m_log.back(), reason);
        EXPECT_EQ(view.m_messages, std::vector<std::string>{reason});
        EXPECT_EQ(view.m_events.back(), "message " + reason);
        EXPECT_EQ(g_bytesWritten - writtenBefore, 5);
        EXPECT_EQ(g_bytesRead - readBefore, 1);
    }
}

TEST_F(CClientSignOnTest, SilentServerIsGivenUpAtTheDeadline)
{
    m_client.SetSignOnLimit(std::chrono::milliseconds(300));
    bool bClientClosed = false;

    const bool failed = LogonWith("Ann", [&](CLoopbackStream& s) {
        AcceptUpToRoom(s);
        s.Send(EncodeInt32(1));  // one entry announced, never sent
        bClientClosed = s.PeerClosed(5000);
    });

    EXPECT_TRUE(failed);
    EXPECT_TRUE(bClientClosed);
    EXPECT_EQ(m_view.m_messages, std::vector<std::string>{kSilent});
    EXPECT_FALSE(m_client.IsConnected());
}

TEST_F(CClientSignOnTest, EndlessRoomIsGivenUpWithinTheLimitKeepingNothing)
{
    // A room count no server could gather, then small valid entries for as
    // long as the client reads them.
    const auto limit = std::chrono::seconds(3);
    m_client.SetSignOnLimit(limit);
    const std::string entry = EncodeRoomEntry("Bob", 1);
    std::string burst;
    for (int k = 0; k < 1000; ++k)
        burst += entry;
    const auto start = std::chrono::steady_clock::now();

    const bool failed = LogonWith("Ann", [&](CLoopbackStream& s) {
        AcceptUpToRoom(s);
        s.Send(EncodeInt32(0x7FFFFFFF));
        const auto until = std::chrono::steady_clock::now() + 2 * limit;
        while (std::chrono::steady_clock::now() < until && SendSome(s, burst)) {
        }
    });

    EXPECT_LT(std::chrono::steady_clock::now() - start, limit);
    EXPECT_TRUE(failed);
    EXPECT_EQ(m_view.m_messages, std::vector<std::string>{kBadRoom});
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_EQ(std::count(m_view.m_events.begin(), m_view.m_events.end(), "users"), 0);
}

// Each way a server can break off a sign-on: the client gives it up, says
// why in a message box, closes the stream and leaves no room copy behind.
struct CBrokenSignOn {
    const char* label;
    std::string afterVerdict;  // what the server sends after verdict 2 before it stops sending
    const char* message;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CBrokenSignOn& broken, std::ostream* pOut) { *pOut << broken.label; }

class CClientAbandonTest : public CClientFixture, public ::testing::WithParamInterface<CBrokenSignOn> {};

TEST_P(CClientAbandonTest, SaysWhyClosesAndEmptiesTheRoom)
{
    const CBrokenSignOn& broken = GetParam();
    bool bClientClosed = false;

    const bool failed = LogonWith("Ann", [&](CLoopbackStream& s) {
        AcceptUpToRoom(s);
        s.Send(broken.afterVerdict);
        s.CloseSending();
        bClientClosed = s.PeerClosed(5000);
    });

    EXPECT_TRUE(failed);
    EXPECT_FALSE(m_client.IsConnected());
    EXPECT_EQ(m_view.m_messages, std::vector<std::string>{broken.message});
    EXPECT_EQ(m_client.Roster().m_nCount, 0);
    EXPECT_EQ(m_client.Roster().m_pHead, nullptr);
    EXPECT_EQ(m_client.Roster().Current(), nullptr);
    EXPECT_TRUE(m_view.m_users.empty());
    EXPECT_TRUE(bClientClosed);
    ASSERT_GE(m_view.m_events.size(), 2u);
    EXPECT_EQ(m_view.m_events.back(), std::string("message ") + broken.message);
    EXPECT_NE(std::find(m_view.m_events.begin(), m_view.m_events.end(), "clear"), m_view.m_events.end());
    // A ping result that never fully came is never shown.
    for (const std::string& line : m_view.m_log)
        EXPECT_EQ(line.find("Server reports"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    BrokenServers, CClientAbandonTest,
    ::testing::Values(
        CBrokenSignOn{"ClosedBeforeTheRoomCount", "", kLost},
        CBrokenSignOn{"RoomCountCutShort", EncodeInt32(2).substr(0, 3), kLost},
        CBrokenSignOn{"ClosedInsideAnEntryName", EncodeInt32(2) + EncodeRoomEntry("Bob", 1) + EncodeInt32(5) + "Cy", kLost},
        CBrokenSignOn{"EntryLengthZero", EncodeInt32(2) + EncodeRoomEntry("Bob", 1) + EncodeInt32(0), kBadRoom},
        CBrokenSignOn{"EntryLengthNegative", EncodeInt32(2) + EncodeRoomEntry("Bob", 1) + EncodeInt32(-1), kBadRoom},
        CBrokenSignOn{"EntryLengthTooLarge", EncodeInt32(2) + EncodeRoomEntry("Bob", 1) + EncodeInt32(512), kBadRoom},
        CBrokenSignOn{"ClosedBeforeTheProbe", EncodeInt32(0), kLost},
        CBrokenSignOn{"PingResultCutShort", EncodeInt32(0) + Bytes({5, 5}) + EncodeInt32(9).substr(0, 2), kLost}),
    [](const ::testing::TestParamInfo<CBrokenSignOn>& info) { return std::string(info.param.label); });

TEST(CClientNoServerTest, RefusedConnectShowsTheServerDownMessage)
{
    CPortLock lock;  // nothing may listen on SIGNON_PORT meanwhile
    CPollLoop loop;
    CRecordingView view;
    CChatClient client;
    client.Init(&view);
    EXPECT_TRUE(client.Logon(LoopbackAddressOnly(), "Ann"));

    EXPECT_EQ(view.m_log, std::vector<std::string>{"Connecting to server at: 127.0.0.1"});
    EXPECT_EQ(view.m_messages,
              std::vector<std::string>{"Error in socket connect -- Possibly the server is down or not at this address."});
    EXPECT_FALSE(client.IsConnected());
}
