#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "ServerFixture.h"

using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kSignOnStart = {
    "New Connection Accepted from: 127.0.0.1", "Receiving Client Information...", "Checking version"};

std::string Int32(std::int32_t v) { return EncodeInt32(v); }

}  // namespace

TEST_F(CServerTest, SignOnSendsTheRoomAndCountsEveryByte)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 15, ann);
    const std::size_t logged = m_view.m_log.size();
    const std::int64_t read = g_bytesRead, written = g_bytesWritten;

    CLoopbackStream conn(SIGNON_PORT);
    ASSERT_TRUE(conn.IsOpen());
    // A first echo other than the probe is what comes back.
    conn.Send(SignOnBytes("Bob", bob, 'A'));
    ASSERT_TRUE(Pump([&] { return Members() == 2; }));

    const std::string got = conn.ReadToEnd();
    ASSERT_EQ(got.size(), 23u);
    EXPECT_EQ(got.substr(0, 19), std::string(1, '\x02') + Int32(1) + std::string("\x04\0\0\0" "Ann\0" "\x0F\0\0\0", 12) + "\x05" "A");
    const std::int32_t ping = DecodeInt32(got.data() + 19);
    EXPECT_GE(ping, 0);

    std::vector<std::string> expected = kSignOnStart;
    for (const char* line : {"  Version 2 Passed...", "Welcome Bob", "Sending client room information"})
        expected.push_back(line);
    expected.push_back("client got ping time of " + std::to_string(ping) + " ms");
    expected.push_back("Moving client to UDP port");
    expected.push_back(FormatNew(ping, "Bob"));
    expected.push_back(FormatJoinLine("Bob"));
    EXPECT_EQ(m_view.LogFrom(logged), expected);

    // Before the join broadcasts: 23 bytes written, 9 read (hello 5, echoes 2, port 2).
    const auto atPort = std::find_if(m_view.m_traffic.begin(), m_view.m_traffic.end(),
                                     [&](const auto& t) { return t.logLines == logged + 8; });
    ASSERT_NE(atPort, m_view.m_traffic.end());
    EXPECT_EQ(atPort->written - written, 23);
    EXPECT_EQ(atPort->read - read, 9);

    // The user's datagrams go to the connection's address and the announced port.
    const CUserInfo* pBob = m_server.GetUserList()->m_pHead->pUser;
    EXPECT_EQ(pBob->m_name, "Bob");
    EXPECT_EQ(pBob->m_ping, ping);
    EXPECT_EQ(pBob->m_addr.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(pBob->m_addr.sin_port, bob.PortNetworkOrder());
    EXPECT_EQ(bob.Next(), FormatNew(ping, "Bob") + '\0');
    EXPECT_EQ(bob.Next(), FormatJoinLine("Bob") + '\0');
}

TEST_F(CServerTest, RoomListIsNewestFirstAndAFirstComerGetsAnEmptyOne)
{
    CLoopbackDatagram first, second, third;
    {
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(SignOnBytes("Ann", first));
        ASSERT_TRUE(Pump([&] { return Members() == 1; }));
        EXPECT_EQ(conn.ReadToEnd().substr(0, 7), std::string(1, '\x02') + Int32(0) + "\x05\x05");
    }
    m_server.GetUserList()->m_pHead->pUser->m_ping = 7;
    {
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(SignOnBytes("Cy", second));
        ASSERT_TRUE(Pump([&] { return Members() == 2; }));
    }
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(SignOnBytes("Bob", third));
    ASSERT_TRUE(Pump([&] { return Members() == 3; }));
    const std::string got = conn.ReadToEnd();
    const std::string cy = EncodeRoomEntry("Cy", m_server.GetUserList()->m_pHead->pNext->pUser->m_ping);
    EXPECT_EQ(got.substr(0, 5 + cy.size() + 12), std::string(1, '\x02') + Int32(2) + cy + EncodeRoomEntry("Ann", 7));
    EXPECT_EQ(m_view.m_userLists.back(), (std::vector<std::string>{"Bob", "Cy", "Ann"}));
}

TEST_F(CServerTest, EmptyNameAndPortNoticeBytesAreTakenAsSent)
{
    CLoopbackDatagram at1027(1027);
    ASSERT_TRUE(at1027.Bound());
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(std::string("\x02\0\x05\x05\x04\x03", 6));
    ASSERT_TRUE(Pump([&] { return Members() == 1; }));
    const CUserInfo* pUser = m_server.GetUserList()->m_pHead->pUser;
    EXPECT_EQ(pUser->m_name, "");
    EXPECT_EQ(ntohs(pUser->m_addr.sin_port), 1027);
    EXPECT_TRUE(m_view.Logged("Welcome "));
    EXPECT_EQ(at1027.Next(), std::string("\x01 ") + std::to_string(pUser->m_ping) + " " + '\0');

    // The next newcomer gets the nameless user's entry: length 1, the zero.
    CLoopbackDatagram bob;
    CLoopbackStream next(SIGNON_PORT);
    next.Send(SignOnBytes("Bob", bob));
    ASSERT_TRUE(Pump([&] { return Members() == 2; }));
    EXPECT_EQ(next.ReadToEnd().substr(5, 9), Int32(1) + '\0' + Int32(pUser->m_ping));
}

TEST_F(CServerTest, HelloWithoutItsEndIsRefusedAfterItsLastPossibleByte)
{
    // A 600-byte name: no zero byte within the 511 bytes a hello may have.
    // Nothing past them is read (the rest of the name is no ping echo and no
    // port notice), no verdict is sent, and nobody is added.
    CLoopbackDatagram peer;
    CLoopbackStream conn(SIGNON_PORT);
    const std::int64_t read = g_bytesRead;
    conn.Send(EncodeHello(std::string(600, 'x')) + "\x05\x05" + EncodePortNotice(peer.PortNetworkOrder()));
    ASSERT_TRUE(PumpUntilLogged("Sign-on from"));
    std::vector<std::string> expected = kSignOnStart;
    expected.push_back("Sign-on from 127.0.0.1 refused: name longer than 509 bytes");
    EXPECT_EQ(m_view.m_log, expected);
    EXPECT_EQ(g_bytesRead - read, 511);
    EXPECT_EQ(conn.ReadToEnd(), "");
    EXPECT_EQ(Members(), 0);
}

// A client whose every message arrives in pieces, each only after the
// server's answer to the one before, as over a slow link: each piece is taken
// as it comes, and nothing is read before the step that wants it.
TEST_F(CServerTest, MessagesInPiecesAreTakenAsTheyCome)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 3, ann);
    CLoopbackStream conn(SIGNON_PORT);
    const auto answered = [&](std::size_t bytes) { return Pump([&] { return conn.Pending() >= bytes; }); };
    const std::int64_t read = g_bytesRead;

    conn.Send("\x02" "Bo");
    ASSERT_TRUE(PumpUntilLogged("Receiving Client Information..."));
    PumpFor(m_loop, 20ms);
    EXPECT_FALSE(m_view.Logged("Checking version"));
    conn.Send(std::string("b\0", 2));
    ASSERT_TRUE(answered(1 + 4 + 12 + 1));
    EXPECT_EQ(conn.Read(18), std::string(1, '\x02') + Int32(1) + EncodeRoomEntry("Ann", 3) + "\x05");
    conn.Send("Z");  // any byte is an echo, and comes back as it is
    ASSERT_TRUE(answered(1));
    EXPECT_EQ(conn.Read(1), "Z");
    conn.Send("Z");
    ASSERT_TRUE(answered(4));
    const std::int32_t ping = DecodeInt32(conn.Read(4).data());
    EXPECT_GE(ping, 0);
    const std::string port = EncodePortNotice(bob.PortNetworkOrder());
    conn.Send(port.substr(0, 1));
    PumpFor(m_loop, 20ms);
    EXPECT_EQ(Members(), 1);
    conn.Send(port.substr(1));
    ASSERT_TRUE(Pump([&] { return Members() == 2; }));

    const CUserInfo* pBob = m_server.GetUserList()->m_pHead->pUser;
    EXPECT_EQ(pBob->m_name, "Bob");
    EXPECT_EQ(pBob->m_ping, ping);
    EXPECT_EQ(pBob->m_addr.sin_port, bob.PortNetworkOrder());
    EXPECT_EQ(g_bytesRead - read, 9);
    EXPECT_EQ(bob.Next(), FormatNew(ping, "Bob") + '\0');
}

TEST_F(CServerTest, WrongVersionIsRefusedAtOnce)
{
    struct {
        std::string hello;
        int version;
    } const cases[] = {
        {std::string("\x01" "Bob\0", 5), 1},
        {std::string("\x00", 1), 0},
        {"\xFFgarbage\x7F\x80", 255},  // no zero byte, and the peer waits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        m_view.m_log.clear();
        const std::int64_t read = g_bytesRead, written = g_bytesWritten;
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(c.hello);
        ASSERT_TRUE(PumpUntilLogged("  Version 2 Failed"));
        EXPECT_EQ(conn.ReadToEnd(), "\x03");
        std::vector<std::string> expected = kSignOnStart;
        expected.push_back("  Version 2 Failed...  Got Version " + std::to_string(c.version));
        EXPECT_EQ(m_view.m_log, expected);
        EXPECT_EQ(g_bytesRead - read, static_cast<std::int64_t>(c.hello.size()));
        EXPECT_EQ(g_bytesWritten - written, 1);
        EXPECT_EQ(Members(), 0);
    }
}

// Sign-ons that stop answering, before their hellos or after them, hold
// neither the room nor each other: a line is relayed and a whole sign-on runs
// while they are under way, long before any of them runs out of time.
TEST_F(CServerTest, StalledSignOnsHoldNeitherTheRoomNorEachOther)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 0, ann);
    std::vector<std::unique_ptr<CLoopbackStream>> stalled;
    for (const char* bytes : {"", "\x02" "Ev"})
        stalled.emplace_back(std::make_unique<CLoopbackStream>(SIGNON_PORT))->Send(bytes);
    // Eight whose hellos arrive together, then nothing: not even their room
    // lists are read.
    for (int i = 0; i < 8; ++i)
        stalled.push_back(std::make_unique<CLoopbackStream>(SIGNON_PORT, "127.0.0.7"));
    for (std::size_t i = 2; i < stalled.size(); ++i)
        stalled[i]->Send(EncodeHello("Mal"));
    ASSERT_TRUE(Pump([&] { return std::count(m_view.m_log.begin(), m_view.m_log.end(), "Welcome Mal") == 8; }));

    const std::size_t logged = m_view.m_log.size();
    ann.SendToServer(FormatChat("hi") + '\0');
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(SignOnBytes("Bob", bob));
    ASSERT_TRUE(Pump([&] { return Members() == 2 && m_view.Logged(FormatRelay("Ann", "hi")); }));
    const std::vector<std::string> got = ann.Receive(3, 2000);
    EXPECT_NE(std::find(got.begin(), got.end(), FormatRelay("Ann", "hi") + '\0'), got.end());
    EXPECT_FALSE(m_view.LoggedPrefix("Sign-on from"));
    // Bob's lines keep their order among the others'.
    std::vector<std::string> bobsLines;
    for (const std::string& line : m_view.LogFrom(logged))
        if (line != FormatRelay("Ann", "hi"))
            bobsLines.push_back(line);
    ASSERT_EQ(bobsLines.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(bobsLines.begin(), bobsLines.begin() + 3), kSignOnStart);
    EXPECT_EQ(bobsLines[4], "Welcome Bob");

    // Shutdown closes every one of them at once.
    m_server.Shutdown();
    for (const auto& pConn : stalled)
        EXPECT_TRUE(pConn->PeerClosed(1000));
}

// Each sign-on has its own deadlines: the hello's from the accept, the rest's
// from the hello. Running out of time costs that sign-on alone, not its
// address: the next sign-on from there goes through at once.
TEST_F(CServerTest, EachDeadlineEndsOnlyItsOwnSignOn)
{
    // 600 ms for the hello, 500 ms for the rest.
    CServerLimits limits;
    limits.signOn = {600ms, 500ms};
    m_server.SetLimits(limits);
    CLoopbackDatagram peer;
    const std::string all = SignOnBytes("Bob", peer);
    // Silent, stopped after the hello, after the first echo, one byte short
    // of the port notice; each from an address of its own, all at once.
    const std::size_t stops[] = {0, 5, 6, all.size() - 1};
    std::vector<std::unique_ptr<CLoopbackStream>> conns;
    const std::int64_t read = g_bytesRead;
    for (int i = 0; i < 4; ++i) {
        conns.push_back(std::make_unique<CLoopbackStream>(SIGNON_PORT, ("127.0.0." + std::to_string(10 + i)).c_str()));
        conns.back()->Send(all.substr(0, stops[i]));
    }
    // A hello that comes late, but in time, gives the rest of its sign-on
    // the whole of its own limit, past the hello's.
    CLoopbackStream late(SIGNON_PORT, "127.0.0.14");
    PumpFor(m_loop, 200ms);
    late.Send(EncodeHello("Late"));
    const auto lateHello = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntilLogged("Sign-on from 127.0.0.14 abandoned: no answer in time"));
    EXPECT_GE(std::chrono::steady_clock::now() - lateHello, 500ms);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(m_view.Logged("Sign-on from 127.0.0." + std::to_string(10 + i) + " abandoned: no answer in time"));
    EXPECT_EQ(g_bytesRead - read, static_cast<std::int64_t>(0 + 5 + 6 + all.size() - 1 + EncodeHello("Late").size()));
    EXPECT_EQ(Members(), 0);

    CLoopbackStream again(SIGNON_PORT, "127.0.0.11");
    again.Send(all);
    EXPECT_TRUE(Pump([&] { return Members() == 1; }));
}

// A room list larger than the connection can take at once waits in the sign-on
// and goes as the client reads it; meanwhile the room runs as ever.
TEST_F(CServerTest, LargeRoomListGoesOutAsTheClientTakesIt)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 0, ann);
    // 20,000 members of 200-byte names, filled in directly (nothing is
    // announced); their datagrams go to a port nobody listens on.
    constexpr int kFill = 20000;
    const std::string name(200, 'n');
    for (int i = 0; i < kFill; ++i) {
        auto* pUser = new CUserInfo;
        pUser->m_name = name;
        pUser->m_addr = LoopbackAddress(9);
        m_server.GetUserList()->AddHead(pUser);
    }
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(SignOnBytes("Bob", bob));
    ASSERT_TRUE(PumpUntilLogged("Sending client room information"));
    PumpFor(m_loop, 50ms);
    EXPECT_FALSE(m_view.LoggedPrefix("client got ping time"));

    ann.SendToServer(FormatChat("meanwhile") + '\0');
    ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatRelay("Ann", "meanwhile")); }));
    EXPECT_EQ(ann.Next(), FormatRelay("Ann", "meanwhile") + '\0');

    const std::string entry = EncodeRoomEntry(name, 0);
    const std::size_t listSize = 1 + 4 + kFill * entry.size() + EncodeRoomEntry("Ann", 0).size() + 1;
    std::string got;
    ASSERT_TRUE(Pump([&] {
        got += conn.Read(std::min<std::size_t>(conn.Pending(), 1 << 20));
        return got.size() >= listSize + 1 + 4;
    }));
    EXPECT_EQ(got.size(), listSize + 1 + 4);
    EXPECT_EQ(got.substr(0, 5 + entry.size()), std::string(1, '\x02') + Int32(kFill + 1) + entry);
    EXPECT_EQ(got.substr(listSize - 1, 2), "\x05\x05");
    EXPECT_TRUE(Pump([&] { return Members() == kFill + 2; }));
}

// A newcomer is sent, alone and before its own join, how the room changed
// while its sign-on went on: whom its room list shows who has left since, and
// who joined after it was taken. Its copy of the room then is the room.
TEST_F(CServerTest, NewcomerHearsOfJoinsAndLeavesDuringItsSignOn)
{
    CLoopbackDatagram ann, bob, cy, dee, eve;
    AddMember("Ann", 1, ann);
    AddMember("Bob", 2, bob);
    CLoopbackStream cyConn(SIGNON_PORT);
    cyConn.Send(EncodeHello("Cy"));
    ASSERT_TRUE(Pump([&] { return cyConn.Pending() >= 1 + 4 + 2 * 12 + 1; }));
    EXPECT_EQ(cyConn.Read(30), std::string(1, '\x02') + Int32(2) + EncodeRoomEntry("Bob", 2) +
                                   EncodeRoomEntry("Ann", 1) + "\x05");

    // While Cy answers slowly: Dee joins, Bob leaves, Eve comes and goes.
    for (auto [pName, pSink] : {std::pair{"Dee", &dee}, std::pair{"Eve", &eve}}) {
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(SignOnBytes(pName, *pSink));
        ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatJoinLine(pName)); }));
    }
    bob.SendToServer(FormatBare(HDR_LEAVE) + '\0');
    eve.SendToServer(FormatBare(HDR_LEAVE) + '\0');
    ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatLeaveLine("Eve")); }));
    const std::int32_t deePing = m_server.GetUserList()->m_pHead->pUser->m_ping;

    cyConn.Send(std::string("\x05\x05") + EncodePortNotice(cy.PortNetworkOrder()));
    ASSERT_TRUE(Pump([&] { return Members() == 3; }));
    const std::int32_t cyPing = m_server.GetUserList()->m_pHead->pUser->m_ping;
    EXPECT_EQ(cy.Receive(4, 2000), (std::vector<std::string>{FormatLeave("Bob") + '\0', FormatNew(deePing, "Dee") + '\0',
                                                             FormatNew(cyPing, "Cy") + '\0', FormatJoinLine("Cy") + '\0'}));
    EXPECT_EQ(m_view.m_userLists.back(), (std::vector<std::string>{"Cy", "Dee", "Ann"}));
}

TEST_F(CServerTest, PeerThatClosesHalfWayAddsNobody)
{
    CLoopbackDatagram peer;
    const std::string all = SignOnBytes("Bob", peer);
    for (std::size_t sent : {std::size_t{0}, std::size_t{3}, std::size_t{5}, std::size_t{6}, all.size() - 1}) {
        SCOPED_TRACE(sent);
        m_view.m_log.clear();
        const std::int64_t read = g_bytesRead;
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(all.substr(0, sent));
        conn.CloseSending();
        ASSERT_TRUE(PumpUntilLogged("Sign-on from"));
        EXPECT_EQ(m_view.m_log.back(), "Sign-on from 127.0.0.1 abandoned: connection lost");
        EXPECT_EQ(g_bytesRead - read, static_cast<std::int64_t>(sent));
        EXPECT_EQ(m_view.LoggedPrefix("Welcome"), sent >= 5);  // never a name from a partial hello
        EXPECT_EQ(Members(), 0);
    }
    // A peer gone altogether, with the server's bytes unread, ends the same way.
    {
        CLoopbackStream conn(SIGNON_PORT);
        conn.Send(all.substr(0, 6));
        conn.Close();
        ASSERT_TRUE(PumpUntilLogged("Sign-on from"));
    }
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(all);
    EXPECT_TRUE(Pump([&] { return Members() == 1; }));
}
