#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AsyncSocket.h"
#include "CountingWatcher.h"
#include "PollLoop.h"
#include "Probe.h"

namespace {

void Poke(const CAsyncSocket& target)
{
    CAsyncSocket sender;
    ASSERT_FALSE(sender.Create(0, SOCK_DGRAM, 0));
    sockaddr_in to = Loopback(target);
    ASSERT_EQ(sender.SendTo("x", 1, to), 1);
}

// Records the order in which timers ran and runs the test's handler if any.
class CTimerProbe : public CTimer {
public:
    CTimerProbe(std::vector<int>& log, int id) : m_log(log), m_nId(id) {}
    std::function<void()> m_onTimer;
    void OnTimer() override
    {
        m_log.push_back(m_nId);
        if (m_onTimer)
            m_onTimer();
    }

private:
    std::vector<int>& m_log;
    int m_nId;
};

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
    a.m_onReceive = [&](CProbe&) { b.Close(); };
    b.m_onReceive = [&](CProbe&) { a.Close(); };
    EXPECT_EQ(loop.RunOnce(1000), 1);
    EXPECT_EQ(a.m_nNotified + b.m_nNotified, 1);
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
    a.m_onReceive = [&](CProbe&) {
        b.reset();
        c = std::make_unique<CProbe>();
        ASSERT_FALSE(c->Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    };
    ASSERT_LT(a.Handle(), oldFd);  // a is collected first
    Poke(a);
    Poke(*b);
    ASSERT_GE(loop.RunOnce(1000), 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Handle(), oldFd);
    EXPECT_EQ(c->m_nNotified, 0);
    EXPECT_EQ(loop.RunOnce(0), 0);  // and nothing is waiting for it afterwards
}

TEST(CPollLoopTest, SocketMayCloseItselfAndLoopTracksWatchedSet)
{
    CPollLoop loop;
    CProbe a;
    ASSERT_FALSE(a.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ));
    const int fd = a.Handle();
    EXPECT_TRUE(loop.IsWatched(fd));
    a.m_onReceive = [](CProbe& self) { self.Close(); };
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
    for (int pass = 0; pass < 10 && a.m_nNotified < 3; ++pass)
        ASSERT_GE(loop.RunOnce(1000), 0);
    EXPECT_EQ(a.m_nNotified, 3);
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

TEST(CPollLoopTest, TimersRunOnceWhenDueInOrderAndMayKillOrMoveEachOther)
{
    using namespace std::chrono_literals;
    CPollLoop loop;
    std::vector<int> ran;
    CTimerProbe first(ran, 1), second(ran, 2), third(ran, 3), late(ran, 4);
    const auto now = CEventLoop::Clock::now();
    loop.SetTimer(&second, now);
    loop.SetTimer(&first, now - 1ms);
    loop.SetTimer(&third, now);
    loop.SetTimer(&late, now + 1h);
    // first kills third, which was due in the same pass; second sets itself
    // again at once, which belongs to the next pass.
    first.m_onTimer = [&] { loop.KillTimer(&third); };
    second.m_onTimer = [&] {
        if (ran.size() < 3)
            loop.SetTimer(&second, CEventLoop::Clock::now());
    };
    EXPECT_EQ(loop.RunOnce(0), 2);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(loop.RunOnce(0), 1);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(loop.RunOnce(0), 0);

    // A wait without bound still ends when a timer is due; moving the late
    // timer nearer is what makes it due.
    loop.SetTimer(&late, CEventLoop::Clock::now() + 30ms);
    EXPECT_EQ(loop.RunOnce(-1), 1);
    EXPECT_EQ(ran.back(), 4);
    EXPECT_FALSE(loop.IsTimerSet(&late));
}

TEST(CPollLoopTest, WritableInterestIsToldApartFromReadable)
{
    CPollLoop loop;
    CAsyncSocket udp;
    ASSERT_FALSE(udp.Create(0, SOCK_DGRAM, 0));
    CCountingWatcher probe;
    ASSERT_FALSE(loop.Watch(udp.Handle(), &probe, CEventLoop::WATCH_WRITE));
    EXPECT_EQ(loop.RunOnce(1000), 1);
    EXPECT_EQ(probe.m_nWrites, 1);
    EXPECT_EQ(probe.m_nReads, 0);
    // Watching again replaces the interest: readable only, and nothing to read.
    ASSERT_FALSE(loop.Watch(udp.Handle(), &probe, CEventLoop::WATCH_READ));
    EXPECT_EQ(loop.RunOnce(0), 0);
    EXPECT_TRUE(loop.Watch(udp.Handle(), &probe, 0));
    loop.Unwatch(udp.Handle());
}

TEST(CPollLoopTest, BrokenWaitIsReportedRatherThanTakenForAQuietPass)
{
    // poll refuses more descriptors than the process may open: a failure of
    // the loop itself, which a caller must not take for "nothing ready". The
    // limit leaves a few low numbers free: the sanitizers' runtime opens a
    // pipe to check memory while it runs, and takes a failed one for memory
    // that cannot be read.
    int spare[4];
    for (int& fd : spare)
        ASSERT_GE(fd = ::dup(STDERR_FILENO), 0);
    CPollLoop loop;
    CCountingWatcher probe;
    std::vector<std::unique_ptr<CAsyncSocket>> sockets;
    for (int i = 0; i < 64; ++i) {
        sockets.push_back(std::make_unique<CAsyncSocket>());
        ASSERT_FALSE(sockets.back()->Create(0, SOCK_DGRAM, 0));
        ASSERT_FALSE(loop.Watch(sockets.back()->Handle(), &probe));
    }
    // One quiet pass while descriptors are still to be had: the sanitizer's
    // first check of the loop's dynamic type opens a pipe, which the tight
    // limit below would refuse (and so report the loop as a bad object).
    EXPECT_EQ(loop.RunOnce(0), 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(spare[3]) + 1;
    ASSERT_LT(tight.rlim_cur, sockets.size());
    for (int fd : spare)
        ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    errno = 0;
    const int rc = loop.RunOnce(0);
    const int error = errno;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(error, EINVAL);
}
