// The Qt backend of the event loop: datagram notifications, unwatching from
// inside a handler, and the repaint-only pump that holds sockets back.

#include <QtTest>

#include <functional>

#include "CountingWatcher.h"
#include "LoopbackDatagram.h"
#include "QtEventLoop.h"
#include "TestSupport.h"

namespace {

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
    CLoopbackDatagram receiver, sender;
    CCallbackWatcher watcher([&] { receiver.Next(0); });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    QVERIFY(loop.IsWatched(receiver.Fd()));
    QCOMPARE(loop.RunOnce(0), 0);

    sender.SendTo(receiver.Port(), "\x02<guest> hi");
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 1; }));
    sender.SendTo(receiver.Port(), "again");
    QVERIFY(receiver.WaitReadable(5000));
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 2; }));

    loop.Unwatch(receiver.Fd());
    QVERIFY(!loop.IsWatched(receiver.Fd()));
    sender.SendTo(receiver.Port(), "unseen");
    QVERIFY(receiver.WaitReadable(5000));
    PumpFor(loop, std::chrono::milliseconds(30));
    QCOMPARE(watcher.m_nCalls, 2);
}

void CQtEventLoopTest::UnwatchFromInsideItsOwnHandlerIsSafe()
{
    CQtEventLoop loop;
    CLoopbackDatagram receiver, sender;
    CCallbackWatcher watcher([&] {
        loop.Unwatch(receiver.Fd());
        receiver.Close();
    });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    sender.SendTo(receiver.Port(), "bye");
    QVERIFY(PumpUntil(loop, [&] { return watcher.m_nCalls == 1; }));

    // The descriptor number may come back for a new socket at once; the old
    // notifier must neither fire for it nor stand in its way.
    CLoopbackDatagram reused;
    CCallbackWatcher fresh([&] { reused.Next(0); });
    QVERIFY(!loop.Watch(reused.Fd(), &fresh));
    sender.SendTo(reused.Port(), "hello");
    QVERIFY(PumpUntil(loop, [&] { return fresh.m_nCalls == 1; }));
    QCOMPARE(watcher.m_nCalls, 1);
}

void CQtEventLoopTest::HandlerThatUnwatchesAnotherStopsItsPendingNotification()
{
    CQtEventLoop loop;
    CLoopbackDatagram first, second, sender;
    // Whichever runs first stops the other, as a handler that closes another
    // socket does; both are readable in the same pass.
    CCallbackWatcher a([&] {
        first.Next(0);
        loop.Unwatch(second.Fd());
    });
    CCallbackWatcher b([&] {
        second.Next(0);
        loop.Unwatch(first.Fd());
    });
    QVERIFY(!loop.Watch(first.Fd(), &a));
    QVERIFY(!loop.Watch(second.Fd(), &b));
    sender.SendTo(first.Port(), "one");
    sender.SendTo(second.Port(), "two");
    QVERIFY(first.WaitReadable(5000) && second.WaitReadable(5000));

    QVERIFY(PumpUntil(loop, [&] { return a.m_nCalls + b.m_nCalls > 0; }));
    PumpFor(loop, std::chrono::milliseconds(30));
    QCOMPARE(a.m_nCalls + b.m_nCalls, 1);
}

void CQtEventLoopTest::RepaintPumpHoldsSocketNotificationsBack()
{
    CQtEventLoop loop;
    CLoopbackDatagram receiver, sender;
    CCallbackWatcher watcher([&] { receiver.Next(0); });
    QVERIFY(!loop.Watch(receiver.Fd(), &watcher));
    sender.SendTo(receiver.Port(), "held back");
    QVERIFY(receiver.WaitReadable(5000));

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

    CLoopbackDatagram udp;
    CCountingWatcher writer;
    QVERIFY(!loop.Watch(udp.Fd(), &writer, CEventLoop::WATCH_WRITE));
    QVERIFY(PumpUntil(loop, [&] { return writer.m_nWrites > 0; }));
    QCOMPARE(writer.m_nReads, 0);
    loop.Unwatch(udp.Fd());
}

QTEST_GUILESS_MAIN(CQtEventLoopTest)
#include "QtEventLoopTest.moc"
