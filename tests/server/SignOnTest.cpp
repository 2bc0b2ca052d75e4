#include <algorithm>
#include <thread>

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

TEST_F(CServerTest, HelloIsTakenOnlyFromReceivedBytesAndOneWithoutItsEndIsRefused)
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

    // A hello in pieces is read until its zero byte, and no further.
    CLoopbackDatagram bob;
    CLoopbackStream pieces(SIGNON_PORT);
    std::thread client([&] {
        pieces.Send("\x02" "Bo");
        std::this_thread::sleep_for(50ms);
        pieces.Send(std::string("b\0", 2) + "\x05\x05" + EncodePortNotice(bob.PortNetworkOrder()));
    });
    const bool joined = Pump([&] { return Members() == 1; });
    client.join();
    ASSERT_TRUE(joined);
    EXPECT_EQ(m_server.GetUserList()->m_pHead->pUser->m_name, "Bob");
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

TEST_F(CServerTest, SilentConnectionsWaitWithoutHoldingTheRoom)
{
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 0, ann);
    CLoopbackStream silent(SIGNON_PORT), halfHello(SIGNON_PORT);
    halfHello.Send("\x02" "Ev");
    const auto waiting = [&] {
        return std::count(m_view.m_log.begin(), m_view.m_log.end(), "Receiving Client Information...");
    };
    ASSERT_TRUE(Pump([&] { return waiting() == 2; }));

    // While both wait for their hellos, a line is relayed and a whole
    // sign-on runs; its lines stay in their order.
    const std::size_t logged = m_view.m_log.size();
    ann.SendToServer(FormatChat("hi") + '\0');
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(SignOnBytes("Bob", bob));
    ASSERT_TRUE(Pump([&] { return Members() == 2 && m_view.Logged(FormatRelay("Ann", "hi")); }));
    EXPECT_EQ(ann.Next(), FormatRelay("Ann", "hi") + '\0');
    std::vector<std::string> bobsLines;
    for (const std::string& line : m_view.LogFrom(logged))
        if (line != FormatRelay("Ann", "hi"))
            bobsLines.push_back(line);
    ASSERT_EQ(bobsLines.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(bobsLines.begin(), bobsLines.begin() + 3), kSignOnStart);
    EXPECT_EQ(bobsLines[4], "Welcome Bob");
    EXPECT_FALSE(m_view.LoggedPrefix("Sign-on from"));

    // Shutdown closes the connections that still wait, at once.
    m_server.Shutdown();
    EXPECT_TRUE(Pump([&] { return silent.PeerClosed() && halfHello.PeerClosed(); }));
}

TEST_F(CServerTest, StalledSignOnIsAbandonedAndItsAddressWaitsAWhile)
{
    // 300 ms for the hello, 200 ms for the rest of the sign-on, 600 ms of
    // closed doors for an address that ran out of the second.
    m_server.SetSignOnLimits({300ms, 200ms, 600ms});
    CLoopbackDatagram peer;
    const std::string all = SignOnBytes("Bob", peer);
    // Silent, stopped after the hello, stopped after the first echo, one
    // byte short of the port notice; each from an address of its own.
    const std::size_t stops[] = {0, 5, 6, all.size() - 1};
    for (int i = 0; i < 4; ++i) {
        const std::string from = "127.0.0." + std::to_string(10 + i);
        SCOPED_TRACE(from);
        m_view.m_log.clear();
        const std::int64_t read = g_bytesRead;
        CLoopbackStream conn(SIGNON_PORT, from.c_str());
        ASSERT_TRUE(conn.IsOpen());
        conn.Send(all.substr(0, stops[i]));
        ASSERT_TRUE(PumpUntilLogged("Sign-on from"));
        EXPECT_EQ(m_view.m_log.back(), "Sign-on from " + from + " abandoned: no answer in time");
        EXPECT_EQ(g_bytesRead - read, static_cast<std::int64_t>(stops[i]));
        EXPECT_EQ(Members(), 0);
    }

    // One that held the whole server finds its next connections closed at
    // once, with one line for all of them; one that only waited does not.
    m_view.m_log.clear();
    for (int i = 0; i < 2; ++i) {
        CLoopbackStream again(SIGNON_PORT, "127.0.0.11");
        ASSERT_TRUE(Pump([&] { return again.PeerClosed(); }));
    }
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"Sign-ons from 127.0.0.11 refused for 1 s: its last one stopped answering"});
    CLoopbackStream quiet(SIGNON_PORT, "127.0.0.10");
    quiet.Send(all);
    ASSERT_TRUE(Pump([&] { return Members() == 1; }));

    PumpFor(m_loop, 600ms);
    CLoopbackDatagram other;
    CLoopbackStream later(SIGNON_PORT, "127.0.0.11");
    later.Send(SignOnBytes("Cy", other));
    EXPECT_TRUE(Pump([&] { return Members() == 2; }));
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
