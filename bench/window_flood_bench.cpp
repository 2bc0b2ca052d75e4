// window_flood_bench: what a flood costs a window. One window runs modally
// under whatever Qt platform runs (offscreen here) while a flood goes on for
// a while; the bench reports how far the process's memory grew from its idle
// size and how long a typed key took to show. Loopback only; run it inside a
// network namespace of its own, as it binds the fixed ports. One scenario a
// run, so that one's memory does not count against the next:
//
//   window_flood_bench hostile|hostile-joins|member|member-off|stranger|stranger-budget [--seconds N]
//
// hostile:    the client window under a server that streams 509-byte lines
//             as fast as it can;
// hostile-joins: the same with announcements of ever new users, 500-byte
//             names, instead of lines;
// member:     the client window in zephran-server's room while one member
//             floods 490-byte lines (the server's flood limit on);
// member-off: the same with the server's flood limit off;
// stranger:   the server window (its log budget and flood limit off) while
//             a stranger sends datagrams of alternating texts;
// stranger-budget: the same with the server's limits on.
// The load (the flooder, and zephran-server) would run on other machines of
// the LAN; here it shares two cores with the window, so it runs at the
// lowest priority, and takes only what the window leaves.
//
//   window_flood_bench users
//
// users: what a join and a leave cost the users box in a room of 100,000,
// against a rebuild of the box from the whole roster.

#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QInputDevice>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchClock.h"
#include "ClientDlg.h"
#include "LoopbackDatagram.h"
#include "LoopbackListener.h"
#include "LoopbackStream.h"
#include "Protocol.h"
#include "QtEventLoop.h"
#include "RawClient.h"
#include "Resources.h"
#include "ServerDlg.h"
#include "ServerProcess.h"
#include "UserInfo.h"
#include "UserList.h"
#include "UsersBox.h"
#include "SocketLayer.h"
#include "Wire.h"

namespace {

// The calling thread, or process pid, at the lowest priority.
void Yield(pid_t pid = 0)
{
    static_cast<void>(setpriority(PRIO_PROCESS, pid == 0 ? static_cast<id_t>(gettid()) : static_cast<id_t>(pid), 19));
}

// Resident memory of this process in KiB.
long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// A flood past this much growth is stopped, so that the bench cannot take
// the machine it shares down with it.
constexpr long kGrowthCapKiB = 3L << 20;

// Types a key into the window every 20 ms, one at a time, from a thread of
// its own (as a person types, whatever the window is doing), and times each
// from the moment it is posted to the first painting of its widget after the
// widget has taken it. A line edit is typed "a" and Backspace in turn, so
// that every key changes what it shows; any other widget is asked to repaint
// when the key arrives.
class CKeyProbe : public QObject {
public:
    explicit CKeyProbe(QWidget* pTarget) : m_pTarget(pTarget)
    {
        pTarget->installEventFilter(this);
        // Made here, so that the typist's key events do not make it in their thread.
        static_cast<void>(QInputDevice::primaryKeyboard());
        m_typist = std::thread([this] {
            while (!m_bStop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (m_posted == 0)
                    PostKey();
            }
        });
    }
    ~CKeyProbe() override
    {
        m_bStop = true;
        m_typist.join();
    }
    std::vector<std::int64_t> m_latencies;  // ns

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pObject == m_pTarget && m_posted != 0) {
            if (pEvent->type() == QEvent::KeyPress) {
                m_bTaken = true;
                if (!qobject_cast<QLineEdit*>(m_pTarget))
                    m_pTarget->update();
            } else if (pEvent->type() == QEvent::Paint && m_bTaken) {
                m_latencies.push_back(NowNs() - m_posted);
                m_bTaken = false;
                m_posted = 0;
            }
        }
        return false;
    }

private:
    void PostKey()
    {
        const bool backspace = (m_nKeys++ % 2) == 1;
        const int key = backspace ? Qt::Key_Backspace : Qt::Key_A;
        const QString text = backspace ? QString(QChar(8)) : QStringLiteral("a");
        m_posted = NowNs();
        QCoreApplication::postEvent(m_pTarget, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    }

    QWidget* m_pTarget;
    std::thread m_typist;
    std::atomic<bool> m_bStop{false};
    std::atomic<std::int64_t> m_posted{0};  // 0: no key on its way
    bool m_bTaken = false;                  // the key on its way has arrived
    int m_nKeys = 0;                        // typist's thread only
};

struct CResult {
    long idleKiB = 0;
    long endKiB = 0;
    long peakKiB = 0;
    double cappedAtS = 0;  // when the growth cap stopped the flood, or 0
    std::vector<std::int64_t> keys;
};

// Runs dlg modally: start() once it runs, then the flood for seconds while
// memory is sampled and keys are typed into pKeyTarget.
CResult Measure(QDialog& dlg, QWidget* pKeyTarget, int seconds, const std::function<bool()>& start,
                std::atomic<bool>& flood)
{
    CResult result;
    QTimer::singleShot(0, &dlg, [&] {
        if (!start()) {
            dlg.done(QDialog::Rejected);
            return;
        }
        // A quiet second first: the idle size is the window's, signed on.
        const std::int64_t quietUntil = NowNs() + 1'000'000'000;
        while (NowNs() < quietUntil)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        result.idleKiB = RssKiB();
        flood = true;
        CKeyProbe probe(pKeyTarget);
        const std::int64_t begin = NowNs();
        const std::int64_t end = begin + seconds * 1'000'000'000LL;
        std::int64_t nextSample = 0;
        while (NowNs() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
            if (NowNs() >= nextSample) {
                nextSample = NowNs() + 100'000'000;
                result.peakKiB = std::max(result.peakKiB, RssKiB());
                if (result.peakKiB - result.idleKiB > kGrowthCapKiB) {
                    result.cappedAtS = (NowNs() - begin) / 1e9;
                    break;
                }
            }
        }
        result.endKiB = RssKiB();
        result.keys = probe.m_latencies;
        flood = false;
        dlg.done(QDialog::Rejected);
    });
    // No one is there to answer a message box: say what it said and go on.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "message box: %s\n", pBox->text().toLocal8Bit().constData());
            pBox->accept();
        }
    });
    boxes.start(100);
    dlg.exec();
    return result;
}

// A line of text bytes that makes a datagram of total bytes with its header.
std::string Filler(std::size_t bytes, int n)
{
    std::string text = std::to_string(n) + " ";
    text.resize(bytes, n % 2 ? 'x' : 'y');
    return text;
}

// The server's end of one sign-on (an empty room), then relayed lines (or,
// with joins, announcements of ever new users) to the client as fast as the
// socket takes them while flood is set.
void HostileServer(std::atomic<bool>& flood, std::atomic<bool>& stop, bool joins)
{
    Yield();
    CLoopbackListener listener(SIGNON_PORT);
    CLoopbackDatagram udp(BROADCAST_PORT);
    CLoopbackStream s = listener.Accept(10'000);
    std::string hello;
    while (hello.size() < 2 || hello.back() != '\0') {
        const std::string next = s.Read(1);
        if (next.empty())
            return;
        hello += next;
    }
    s.Send(std::string(1, static_cast<char>(PROTOCOL_VERSION)) + EncodeInt32(0) +
           std::string(1, static_cast<char>(PING_PROBE)));
    s.Read(1);
    s.Send(std::string(1, static_cast<char>(PING_PROBE)));
    s.Read(1);
    s.Send(EncodeInt32(1));
    const std::string notice = s.Read(2);
    const std::uint16_t port = ntohs(DecodePortNotice(notice.data()));
    for (int n = 0; !stop; ++n) {
        if (!flood) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // "%c<%s> %s" and a zero: 509 bytes; "%c %i %s" and a zero: 508.
        if (joins)
            udp.SendTo(port, FormatNew(0, Filler(508 - 1 - 3 - 1, n)) + '\0');
        else
            udp.SendTo(port, FormatRelay("evil", Filler(509 - 1 - 7 - 1, n)) + '\0');
    }
}

void Report(const char* scenario, const CResult& r)
{
    std::vector<std::int64_t> keys = r.keys;
    std::sort(keys.begin(), keys.end());
    auto pct = [&](double p) {
        return keys.empty() ? 0.0 : keys[std::min(keys.size() - 1, static_cast<std::size_t>(p * keys.size()))] / 1e6;
    };
    std::printf("%-16s idle %6.1f MiB  end %+8.1f MiB  peak %+8.1f MiB  keys %5zu  p50 %6.1f ms  p99 %6.1f ms  max %7.1f ms",
                scenario, r.idleKiB / 1024.0, (r.endKiB - r.idleKiB) / 1024.0, (r.peakKiB - r.idleKiB) / 1024.0,
                keys.size(), pct(0.5), pct(0.99), keys.empty() ? 0.0 : keys.back() / 1e6);
    if (r.cappedAtS > 0)
        std::printf("  (stopped at +%ld MiB after %.1f s)", kGrowthCapKiB >> 10, r.cappedAtS);
    std::printf("\n");
    std::fflush(stdout);
}

CResult RunClient(const std::string& scenario, int seconds)
{
    std::atomic<bool> flood{false};
    std::atomic<bool> stop{false};
    std::thread load;
    CServerProcess server;
    if (scenario == "hostile" || scenario == "hostile-joins") {
        load = std::thread(HostileServer, std::ref(flood), std::ref(stop), scenario == "hostile-joins");
    } else {
        std::vector<std::string> args;
        if (scenario == "member-off")
            args = {"--flood-limit", "off"};
        if (server.StartListening(CServerProcess::EOutput::Discard, args)) {
            std::fprintf(stderr, "zephran-server did not start\n");
            std::exit(1);
        }
        Yield(server.Pid());
        load = std::thread([&] {
            Yield();
            CRawClient member;
            if (member.SignOn("flooder"))
                return;
            for (int n = 0; !stop; ++n) {
                if (!flood) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                // "%c%s" and a zero: 490 bytes.
                static_cast<void>(member.Send(FormatChat(Filler(490 - 2, n))));
            }
        });
    }
    CClientDlg dlg;
    sockaddr_in addr{};
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    dlg.SetServerAddress(addr);
    dlg.SetUserName("reader");
    const CResult result = Measure(dlg, dlg.Control(IDC_INPUT), seconds, [&] {
        // Give the load's server or member time to be there.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        dlg.ControlAs<QPushButton>(IDC_LOGON)->click();
        return dlg.isVisible();
    }, flood);
    stop = true;
    load.join();
    return result;
}

CResult RunServer(const std::string& scenario, int seconds)
{
    std::atomic<bool> flood{false};
    std::atomic<bool> stop{false};
    CServerDlg dlg;
    if (scenario == "stranger") {
        CServerLimits off;
        off.flood.bOn = false;
        off.log.bOn = false;
        dlg.SetLimits(off);
    }
    std::thread load([&] {
        Yield();
        CLoopbackDatagram stranger;
        const std::string texts[] = {FormatChat("I am not here"), FormatChat("nor am I here")};
        for (int n = 0; !stop; ++n) {
            if (!flood) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            stranger.SendTo(BROADCAST_PORT, texts[n % 2] + '\0');
        }
    });
    const CResult result = Measure(dlg, dlg.Control(IDC_SHUTDOWN_SERVER), seconds, [] { return true; }, flood);
    stop = true;
    load.join();
    return result;
}

// "%s (%i)\n" as the client window shows a user.
QString UserEntry(const CUserInfo& user)
{
    return QString::fromStdString(user.m_name) + QStringLiteral(" (%1)\n").arg(user.m_ping);
}

void RunUsers()
{
    constexpr int kRoom = 100'000;
    constexpr int kChanges = 200;
    QPlainTextEdit box;
    box.setLineWrapMode(QPlainTextEdit::NoWrap);
    box.resize(200, 400);
    box.show();
    CUsersBox users;
    users.Attach(&box, UserEntry);
    CUserList roster;
    auto add = [&roster](int n) {
        auto* pUser = new CUserInfo;
        pUser->m_name = "user" + std::to_string(n);
        roster.AddHead(pUser);
    };
    // Each change shown and painted, as a window's frame would.
    auto timeShow = [&] {
        const std::int64_t start = NowNs();
        users.Show(roster);
        QCoreApplication::processEvents();
        return NowNs() - start;
    };
    for (int n = 0; n < kRoom; ++n)
        add(n);
    const std::int64_t build = timeShow();
    std::int64_t joins = 0;
    for (int n = 0; n < kChanges; ++n) {
        add(kRoom + n);
        joins += timeShow();
    }
    std::int64_t leaves = 0;
    for (int n = 0; n < kChanges; ++n) {
        // A user from the middle of the room.
        const int count = roster.m_nCount;
        roster.BeginWalk();
        for (int k = 0; k < count / 2; ++k)
            roster.Advance();
        roster.RemoveCurrent();
        leaves += timeShow();
    }
    // The box rebuilt from the whole roster, as every change used to.
    std::int64_t rebuild = NowNs();
    QString text;
    for (const CUserNode* pNode = roster.m_pHead; pNode; pNode = pNode->pNext)
        text += UserEntry(*pNode->pUser);
    box.setPlainText(text);
    QCoreApplication::processEvents();
    rebuild = NowNs() - rebuild;
    std::printf("users box, room of %d: first showing %.1f ms, a join %.2f ms, a leave %.2f ms "
                "(each shown and painted); a rebuild from the whole roster %.1f ms\n",
                kRoom, build / 1e6, joins / 1e6 / kChanges, leaves / 1e6 / kChanges, rebuild / 1e6);
    roster.RemoveAll();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string scenario = argc > 1 ? argv[1] : "";
    int seconds = 30;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
    if (scenario == "users") {
        QApplication app(argc, argv);
        RunUsers();
        return 0;
    }
    const bool client =
        scenario == "hostile" || scenario == "hostile-joins" || scenario == "member" || scenario == "member-off";
    if (!client && scenario != "stranger" && scenario != "stranger-budget") {
        std::fprintf(stderr, "usage: window_flood_bench hostile|hostile-joins|member|member-off|stranger|stranger-budget"
                             " [--seconds N] | users\n");
        return 2;
    }
    if (SocketLayerStartup())
        return 1;
    QApplication app(argc, argv);
    CQtEventLoop loop;
    const CResult result = client ? RunClient(scenario, seconds) : RunServer(scenario, seconds);
    Report(scenario.c_str(), result);
    // Tearing down a window that holds gigabytes of log takes long and
    // measures nothing.
    std::_Exit(0);
}
