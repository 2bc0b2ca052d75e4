// The Qt backend of the event loop: datagram notifications, unwatching from
// inside a handler, and the repaint-only pump that holds sockets back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>

#include <functional>

#include "QtEventLoop.h"
#include "TestSupport.h"

namespace {

// A datagram socket on 127.0.0.1 at a port the system picks.
class CUdpEnd {
public:
    CUdpEnd() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof m_addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&m_addr), &len);
    }
    ~CUdpEnd() { Close(); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void SendTo(const CUdpEnd& to, const char* text) const
    {
        ::sendto(m_fd, text, std::strlen(text), 0, reinterpret_cast<const sockaddr*>(&to.m_addr),
                 sizeof to.m_addr);
    }
    bool Drain() const
    {
        char buf[512];
        return ::recv(m_fd, buf, sizeof buf, 0) >= 0;
    }
    // Waits (bounded) until a datagram is queued, without taking it.
    bool WaitReadable() const
    {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 5000) == 1;
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
    sockaddr_in m_addr{};
};

class CCallbackWatcher : public CWatcher {
public:
    explicit CCallbackWatcher(std::function<void()> fn) : m_fn(std::move(fn)) {}
    void OnReadable() override
    {
        ++m_nCalls;
        m_fn();
    }
    int m_nCalls = 0;

private:
    std::function<void()> m_fn;
};

class CCallbackTimer : public CTimer {
public:
    void OnTimer() override { ++m_nCalls; }
    int m_nCalls = 0;
};

class CWriteWatcher : public CWatcher {
public:
    void OnReadable() override { ++m_nReads; }
    void OnWritable() override { ++m_nWrites; }
    int m_nReads = 0;
    int m_nWrites = 0;
};

}  // namespace

class CQtEventLoopTest : public QObject {
    Q_OBJECT
private slots:
    void DeliversADatagramNotification();
    void UnwatchFromInsideItsOwnHandlerIsSafe();
    void HandlerThatUnwatchesAnotherStopsItsPendingNotification();
    void RepaintPumpHoldsSocketNotificationsBack();
    void RefusesABadDescriptor();
    void TimersAndWritabilityAreDeliveredButNotInsideThePump();
};

void CQtEventLoopTest::DeliversADatagramNotification()
{
    CQtEventLoop loop;
    QCOMPARE(CEventLoop::Current(), &loop);
    CUdpEnd receiver, sender;
    CCallbackWatcher watcher([&] { receiver.Drain(); });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    QVERIFY(loop.IsWatched(receiver.Fd()));
    QCOMPARE(loop.RunOnce(0), 0);

    sender.SendTo(receiver, "\x02<guest> hi");
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 1; }));
    sender.SendTo(receiver, "again");
    QVERIFY(receiver.WaitReadable());
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 2; }));

    loop.Unwatch(receiver.Fd());
    QVERIFY(!loop.IsWatched(receiver.Fd()));
    sender.SendTo(receiver, "unseen");
    QVERIFY(receiver.WaitReadable());
    PumpFor(loop, std::chrono::milliseconds(30));
    QCOMPARE(watcher.m_nCalls, 2);
}

void CQtEventLoopTest::UnwatchFromInsideItsOwnHandlerIsSafe()
{
    CQtEventLoop loop;
    CUdpEnd receiver, sender;
    CCallbackWatcher watcher([&] {
        loop.Unwatch(receiver.Fd());
        receiver.Close();
    });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    sender.SendTo(receiver, "bye");
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 1; }));

    // The descriptor number may come back for a new socket at once; the old
    // notifier must neither fire for it nor stand in its way.
    CUdpEnd reused;
    CCallbackWatcher fresh([&] { reused.Drain(); });
    QVERIFY(!loop.Watch(reused.Fd(), &fresh));
    sender.SendTo(reused, "hello");
    QVERIFY(PumpUntil(loop, [&] { return fresh.m_nCalls == 1; }));
    QCOMPARE(watcher.m_nCalls, 1);
}

void CQtEventLoopTest::HandlerThatUnwatchesAnotherStopsItsPendingNotification()
{
    CQtEventLoop loop;
    CUdpEnd first, second, sender;
    // Whichever runs first stops the other, as a handler that closes another
    // socket does; both are readable in the same pass.
    CCallbackWatcher a([&] {
        first.Drain();
        loop.Unwatch(second.Fd());
    });
    CCallbackWatcher b([&] {
        second.Drain();
        loop.Unwatch(first.Fd());
    });
    QVERIFY(!loop.Watch(first.Fd(), &a));
    QVERIFY(!loop.Watch(second.Fd(), &b));
    sender.SendTo(first, "one");
    sender.SendTo(second, "two");
    QVERIFY(first.WaitReadable() && second.WaitReadable());

    QVERIFY(PumpUntil(loop, [&] { return a.m_nCalls + b.m_nCalls > 0; }));
    PumpFor(loop, std::chrono::milliseconds(30));
    QCOMPARE(a.m_nCalls + b.m_nCalls, 1);
}

void CQtEventLoopTest::RepaintPumpHoldsSocketNotificationsBack()
{
    CQtEventLoop loop;
    CUdpEnd receiver, sender;
    CCallbackWatcher watcher([&] { receiver.Drain(); });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    sender.SendTo(receiver, "held back");
    QVERIFY(receiver.WaitReadable());

    int nTimerShots = 0;
    QTimer::singleShot(0, [&] { ++nTimerShots; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    while (std::chrono::steady_clock::now() < deadline)
        loop.PumpRepaint();
    QCOMPARE(watcher.m_nCalls, 0);
    QCOMPARE(nTimerShots, 1);  // the rest of the loop did run

    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 1; }));
}

void CQtEventLoopTest::RefusesABadDescriptor()
{
    CQtEventLoop loop;
    CCallbackWatcher watcher([] {});
    QVERIFY(loop.Watch(-1, &watcher));
    QVERIFY(loop.Watch(0, nullptr));
    loop.Unwatch(12345);  // never watched: nothing happens
    QCOMPARE(loop.RunOnce(1), 0);
}

void CQtEventLoopTest::TimersAndWritabilityAreDeliveredButNotInsideThePump()
{
    using namespace std::chrono_literals;
    CQtEventLoop loop;
    CCallbackTimer soon, later;
    loop.SetTimer(&soon, CEventLoop::Clock::now() + 20ms);
    loop.SetTimer(&later, CEventLoop::Clock::now() + 1h);
    // A timer due while a blocking call waits is held until it returns.
    const auto pumpEnd = std::chrono::steady_clock::now() + 60ms;
    while (std::chrono::steady_clock::now() < pumpEnd)
        loop.PumpRepaint();
    QCOMPARE(soon.m_nCalls, 0);
    QVERIFY(PumpUntil(loop, [&] { return soon.m_nCalls == 1; }));
    loop.KillTimer(&later);
    PumpFor(loop, 30ms);
    QCOMPARE(soon.m_nCalls, 1);
    QCOMPARE(later.m_nCalls, 0);

    CUdpEnd udp;
    CWriteWatcher writer;
    QVERIFY(!loop.Watch(udp.Fd(), &writer, CEventLoop::WATCH_WRITE));
    QVERIFY(PumpUntil(loop, [&] { return writer.m_nWrites > 0; }));
    QCOMPARE(writer.m_nReads, 0);
    loop.Unwatch(udp.Fd());
}

QTEST_GUILESS_MAIN(CQtEventLoopTest)
#include "QtEventLoopTest.moc"
