#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "AsyncSocket.h"
#include "LoopbackPeers.h"
#include "PollLoop.h"

namespace {

void Poke(const CAsyncSocket& target)
{
    CAsyncSocket sender;
    ASSERT_FALSE(sender.Create(0, SOCK_DGRAM, 0));
    sockaddr_in to = Loopback(target);
    ASSERT_EQ(sender.SendTo("x", 1, to), 1);
}

}  // namespace

TEST(CPollLoopTest, HandlerClosingAnotherReadySocketStopsItsNotification)
{
    CPollLoop loop;
    CProbe a, b;
    ASSERT_FALSE(a.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    ASSERT_FALSE(b.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    Poke(a);
    Poke(b);
    // Whichever runs first closes the other, whose readiness was already
    // collected in the same pass.
    a.onReceive = [&](CProbe&) { b.Close(); };
    b.onReceive = [&](CProbe&) { a.Close(); };
    EXPECT_EQ(loop.RunOnce(1000), 1);
    EXPECT_EQ(a.notified + b.notified, 1);
}

TEST(CPollLoopTest, ReusedDescriptorIsNotToldOfTheOldSocketsReadiness)
{
    CPollLoop loop;
    CProbe a;
    auto b = std::make_unique<CProbe>();
    std::unique_ptr<CProbe> c;
    ASSERT_FALSE(a.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    ASSERT_FALSE(b->Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    const int oldFd = b->Handle();
    // a's handler replaces b by a new socket, which gets b's descriptor back.
    a.onReceive = [&](CProbe&) {
        b.reset();
        c = std::make_unique<CProbe>();
        ASSERT_FALSE(c->Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    };
    ASSERT_LT(a.Handle(), oldFd);  // a is collected first
    Poke(a);
    Poke(*b);
    loop.RunOnce(1000);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Handle(), oldFd);
    EXPECT_EQ(c->notified, 0);
    EXPECT_EQ(loop.RunOnce(0), 0);  // and nothing is waiting for it afterwards
}

TEST(CPollLoopTest, SocketMayCloseItselfAndLoopTracksWatchedSet)
{
    CPollLoop loop;
    CProbe a;
    ASSERT_FALSE(a.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    const int fd = a.Handle();
    EXPECT_TRUE(loop.IsWatched(fd));
    a.onReceive = [](CProbe& self) { self.Close(); };
    Poke(a);
    EXPECT_EQ(loop.RunOnce(1000), 1);
    EXPECT_FALSE(loop.IsWatched(fd));
    EXPECT_FALSE(a.IsOpen());

    // A socket that asks for no read notifications is never watched.
    CProbe quiet;
    ASSERT_FALSE(quiet.Create(0, SOCK_DGRAM, CAsyncSocket::FD_WRITE));
    EXPECT_FALSE(loop.IsWatched(quiet.Handle()));
}

TEST(CPollLoopTest, OneDatagramPerNotificationUntilDrained)
{
    CPollLoop loop;
    CProbe a;
    ASSERT_FALSE(a.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    for (int i = 0; i < 3; ++i)
        Poke(a);
    for (int pass = 0; pass < 10 && a.notified < 3; ++pass)
        loop.RunOnce(1000);
    EXPECT_EQ(a.notified, 3);
    EXPECT_EQ(loop.RunOnce(0), 0);
}

TEST(CPollLoopTest, NewestLoopIsCurrentUntilDestroyed)
{
    CPollLoop outer;
    EXPECT_EQ(CEventLoop::Current(), &outer);
    {
        CPollLoop inner;
        EXPECT_EQ(CEventLoop::Current(), &inner);
    }
    EXPECT_EQ(CEventLoop::Current(), &outer);
}
