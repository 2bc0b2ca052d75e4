#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "AsyncSocket.h"
#include "LoopbackStream.h"
#include "PollLoop.h"
#include "Probe.h"
#include "Protocol.h"
#include "Socket.h"

using namespace std::chrono_literals;

namespace {

// Counts how often a blocking wait let the windows repaint.
class CCountingLoop : public CPollLoop {
public:
    void PumpRepaint() override { ++m_nPumps; }
    int m_nPumps = 0;
};

// A listener and a connected pair of stream ends: the blocking side is a
// CSocket, the other a plain stream the test drives.
class CStreamPair {
public:
    CStreamPair()
    {
        EXPECT_FALSE(m_listener.Create(0, SOCK_STREAM, 0));
        EXPECT_FALSE(m_listener.Listen(SOMAXCONN));
        m_peer = CLoopbackStream(ntohs(Loopback(m_listener).sin_port));
        EXPECT_TRUE(m_peer.IsOpen());
        for (int i = 0; i < 100 && m_listener.Accept(m_conn, nullptr); ++i)
            std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(m_conn.IsOpen());
    }

    CAsyncSocket m_listener;
    CSocket m_conn;
    CLoopbackStream m_peer;
};

}  // namespace

TEST(CAsyncSocketTest, DatagramsLongerThanTheBufferFailAndAreLost)
{
    CPollLoop loop;
    CAsyncSocket rx, tx;
    ASSERT_FALSE(rx.Create(0, SOCK_DGRAM, 0));
    ASSERT_FALSE(tx.Create(0, SOCK_DGRAM, 0));
    const sockaddr_in to = Loopback(rx);
    const std::string big(512, 'x'), fits(511, 'y');
    ASSERT_EQ(tx.SendTo(big.data(), 512, to), 512);
    ASSERT_EQ(tx.SendTo(fits.data(), 511, to), 511);
    ASSERT_EQ(tx.SendTo("", 0, to), 0);

    char buf[512];
    sockaddr_in from{};
    errno = 0;
    EXPECT_EQ(rx.ReceiveFrom(buf, DATAGRAM_RECEIVE_SIZE, from), -1);
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_EQ(rx.ReceiveFrom(buf, DATAGRAM_RECEIVE_SIZE, from), 511);  // the next one is intact
    EXPECT_EQ(from.sin_port, Loopback(tx).sin_port);
    EXPECT_EQ(rx.ReceiveFrom(buf, DATAGRAM_RECEIVE_SIZE, from), 0);  // an empty datagram
    EXPECT_EQ(rx.ReceiveFrom(buf, DATAGRAM_RECEIVE_SIZE, from), -1);  // nothing left
    EXPECT_EQ(errno, EAGAIN);
}

TEST(CAsyncSocketTest, ConnectedDatagramSocketHearsOnlyItsPeer)
{
    CPollLoop loop;
    CAsyncSocket rx, server, stranger;
    ASSERT_FALSE(server.Create(0, SOCK_DGRAM, 0));
    ASSERT_FALSE(stranger.Create(0, SOCK_DGRAM, 0));
    ASSERT_FALSE(rx.Create(0, SOCK_DGRAM, 0));
    ASSERT_FALSE(rx.Connect(Loopback(server)));
    const sockaddr_in to = Loopback(rx);
    ASSERT_EQ(stranger.SendTo("s", 2, to), 2);
    ASSERT_EQ(server.SendTo("ok", 3, to), 3);
    char buf[512];
    EXPECT_EQ(rx.Receive(buf, DATAGRAM_RECEIVE_SIZE), 3);
    EXPECT_STREQ(buf, "ok");
    EXPECT_EQ(rx.Receive(buf, DATAGRAM_RECEIVE_SIZE), -1);
    // Oversize on a connected socket fails the same way.
    const std::string big(600, 'z');
    ASSERT_EQ(server.SendTo(big.data(), 600, to), 600);
    EXPECT_EQ(rx.Receive(buf, DATAGRAM_RECEIVE_SIZE), -1);
    EXPECT_EQ(errno, EMSGSIZE);
}

TEST(CAsyncSocketTest, TakenPortsAreRefused)
{
    CPollLoop loop;
    CAsyncSocket first, second, udp1, udp2;
    ASSERT_FALSE(first.Create(0, SOCK_STREAM, CAsyncSocket::FD_ACCEPT));
    ASSERT_FALSE(first.Listen(SOMAXCONN));
    const unsigned port = ntohs(Loopback(first).sin_port);
    // Address reuse on a listener still refuses a port another socket listens on.
    errno = 0;
    EXPECT_TRUE(second.Create(port, SOCK_STREAM, CAsyncSocket::FD_ACCEPT));
    EXPECT_EQ(errno, EADDRINUSE);
    EXPECT_FALSE(second.IsOpen());

    ASSERT_FALSE(udp1.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    errno = 0;
    EXPECT_TRUE(udp2.Create(ntohs(Loopback(udp1).sin_port), SOCK_DGRAM, CAsyncSocket::FD_READ));
    EXPECT_EQ(errno, EADDRINUSE);
    EXPECT_FALSE(udp2.IsOpen());
}

TEST(CSocketTest, ReceiveFullWaitsForPiecesAndReportsAnEarlyClose)
{
    CCountingLoop loop;
    CStreamPair pair;
    std::thread writer([&] {
        pair.m_peer.Send("ab");
        std::this_thread::sleep_for(120ms);
        pair.m_peer.Send("cd");
        std::this_thread::sleep_for(60ms);
        pair.m_peer.Send("e");
        pair.m_peer.CloseSending();
    });
    pair.m_conn.SetDeadline(CSocket::Clock::now() + 5s);
    char buf[8] = {};
    int got = -1;
    EXPECT_FALSE(pair.m_conn.ReceiveFull(buf, 4, &got));
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_GT(loop.m_nPumps, 0);  // windows repainted while it waited
    EXPECT_TRUE(pair.m_conn.ReceiveFull(buf, 4, &got));  // "e", then closed
    EXPECT_EQ(got, 1);
    writer.join();
}

TEST(CSocketTest, DeadlineEndsAWaitOnASilentPeer)
{
    CCountingLoop loop;
    CStreamPair pair;
    pair.m_conn.SetDeadline(CSocket::Clock::now() + 150ms);
    char c;
    errno = 0;
    EXPECT_EQ(pair.m_conn.Receive(&c, 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(CSocketTest, DeadlineHoldsWhileThePeerKeepsBytesReady)
{
    // A peer that always has more ready never makes a call wait; the deadline
    // must end it all the same.
    CCountingLoop loop;
    CStreamPair pair;
    ASSERT_FALSE(pair.m_peer.Send("abcd"));
    pair.m_conn.SetDeadline(CSocket::Clock::now() - 1ms);
    char buf[4];
    errno = 0;
    EXPECT_EQ(pair.m_conn.Receive(buf, 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(pair.m_conn.Send("x", 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(CSocketTest, BlockingWaitHoldsBackOtherNotifications)
{
    CCountingLoop loop;
    CProbe udp;
    ASSERT_FALSE(udp.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    CStreamPair pair;
    CAsyncSocket tx;
    ASSERT_FALSE(tx.Create(0, SOCK_DGRAM, 0));
    const sockaddr_in to = Loopback(udp);
    ASSERT_EQ(tx.SendTo("d", 2, to), 2);

    std::thread writer([&] {
        std::this_thread::sleep_for(100ms);
        pair.m_peer.Send("z");
    });
    char c = 0;
    EXPECT_EQ(pair.m_conn.Receive(&c, 1), 1);
    writer.join();
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(udp.m_nNotified, 0);  // held back during the wait ...
    ASSERT_GE(loop.RunOnce(1000), 0);
    EXPECT_EQ(udp.m_nNotified, 1);  // ... and delivered afterwards
}

TEST(CSocketTest, ConnectReportsRefusalAndPeekLeavesBytesQueued)
{
    CPollLoop loop;
    sockaddr_in to{};
    {
        CAsyncSocket probe;
        ASSERT_FALSE(probe.Create(0, SOCK_STREAM, 0));
        to = Loopback(probe);  // a port nothing listens on once the probe is gone
    }
    CSocket s;
    ASSERT_FALSE(s.Create());
    errno = 0;
    EXPECT_TRUE(s.Connect(to));
    EXPECT_EQ(errno, ECONNREFUSED);

    CStreamPair pair;
    pair.m_peer.Send(std::string_view("hi\0", 3));
    char buf[8] = {};
    EXPECT_EQ(pair.m_conn.Peek(buf, 8), 3);
    EXPECT_EQ(pair.m_conn.Receive(buf, 8), 3);
    EXPECT_STREQ(buf, "hi");
    pair.m_peer.Close();
    EXPECT_EQ(pair.m_conn.Receive(buf, 8), 0);  // closed by the peer
    // A send on a stream the peer has closed fails; it does not kill the process.
    ::signal(SIGPIPE, SIG_IGN);
    int rc = 0;
    for (int i = 0; i < 50 && rc >= 0; ++i)
        rc = pair.m_conn.Send("x", 1);
    EXPECT_EQ(rc, -1);
}
