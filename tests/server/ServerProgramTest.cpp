// zephran-server as a program: a session through its log, its stop signals,
// a flood, a reader that stalls, a failed start and its arguments, and what
// it tells systemd: priorities in the journal, readiness.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Loopback.h"
#include "LoopbackDatagram.h"
#include "PortHolder.h"
#include "Protocol.h"
#include "RawSignOn.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "Wire.h"

using namespace std::chrono_literals;

namespace {

constexpr CServerProcess::EOutput kBoth = CServerProcess::EOutput::CaptureBoth;

const std::string kUpLine = "Server up on 0.0.0.0: TCP port 2050 for sign-ons, UDP port 2051 for the chat";

// The socket a service manager hands a service in NOTIFY_SOCKET, bound in
// the abstract namespace (nothing on disk) under a name of this process.
class CNotifySocket {
public:
    CNotifySocket()
        : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
          m_name("@zephran-notify-test-" + std::to_string(::getpid()))
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        m_name.copy(addr.sun_path + 1, m_name.size() - 1, 1);  // sun_path[0] = 0: abstract
        m_bBound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr),
                          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_name.size())) == 0;
    }
    ~CNotifySocket() { ::close(m_fd); }
    CNotifySocket(const CNotifySocket&) = delete;
    CNotifySocket& operator=(const CNotifySocket&) = delete;

    bool Bound() const { return m_bBound; }
    // NOTIFY_SOCKET's value.
    const std::string& Name() const { return m_name; }
    // The next message, waiting up to waitMs; "" if none came.
    std::string Next(int waitMs) const
    {
        if (!WaitReady(m_fd, POLLIN, waitMs))
            return {};
        char buf[4096];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

private:
    int m_fd;
    std::string m_name;
    bool m_bBound = false;
};

// Signs guest on as the only user; returns the ping the server measured, or
// -1 if the sign-on failed or found others in the room.
std::int32_t SignOnAlone(const CLoopbackDatagram& guest)
{
    CRawSignOn signOn(CSignOnPlan{"guest", guest.PortNetworkOrder()});
    return signOn.Run() == ESignOn::Completed && signOn.m_room.empty() ? signOn.m_ping : -1;
}

// SignOnAlone, then guest's reads of its own two announcements. True if
// all went well.
bool JoinAlone(const CLoopbackDatagram& guest)
{
    return SignOnAlone(guest) >= 0 && guest.Next() != CLoopbackDatagram::kNone && guest.Next() != CLoopbackDatagram::kNone;
}

// The datagrams the stranger sends until the server logs one as a
// stranger's: the server is up then. 0 if it never logs one.
int StrangerUntilRefused(CServerProcess& server, const CLoopbackDatagram& stranger, const std::string& refusal)
{
    for (int sent = 1; sent <= 100; ++sent) {
        stranger.SendToServer(std::string("\x05", 2));
        if (server.OutputHolding(refusal, 50ms).find(refusal) != std::string::npos)
            return sent;
    }
    return 0;
}

}  // namespace

TEST(CServerProgramTest, GuestSignsOnSaysHiAndLeaves)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_FALSE(server.StartListening(kBoth));
    CLoopbackDatagram guest;
    const std::int32_t ping = SignOnAlone(guest);
    ASSERT_GE(ping, 0);

    EXPECT_EQ(guest.Next(), FormatNew(ping, "guest") + '\0');
    EXPECT_EQ(guest.Next(), FormatJoinLine("guest") + '\0');
    guest.SendToServer(std::string("\x02hi", 4));
    EXPECT_EQ(guest.Next(), std::string("\x02<guest> hi", 12));
    guest.SendToServer(std::string("\x03", 2));
    EXPECT_EQ(guest.Next(), std::string("\x03guest", 7));
    EXPECT_EQ(guest.Next(), std::string("\x02* guest has left the chat!", 28));

    server.OutputHolding("has left the chat!");
    EXPECT_EQ(server.Stop(), 0);
    // Each datagram's type byte is written escaped, so each log line is one line.
    EXPECT_EQ(server.Stdout(), kUpLine + "\n"
                               "New Connection Accepted from: 127.0.0.1\n"
                               "Receiving Client Information...\n"
                               "Checking version\n"
                               "  Version 2 Passed...\n"
                               "Welcome guest\n"
                               "Sending client room information\n"
                               "client got ping time of " + std::to_string(ping) + " ms\n"
                               "Moving client to UDP port\n"
                               "\\x01 " + std::to_string(ping) + " guest\n"
                               "\\x02* guest has joined the chat!\n"
                               "\\x02<guest> hi\n"
                               "\\x03guest\n"
                               "\\x02* guest has left the chat!\n"
                               "\\x04\n");
    EXPECT_EQ(server.Stderr(), "");
}

TEST(CServerProgramTest, InterruptTerminateAndHangUpShutDownAndExitCleanly)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        CPortLock lock;
        CServerProcess server;
        ASSERT_FALSE(server.StartListening(kBoth));
        CLoopbackDatagram guest;
        ASSERT_TRUE(JoinAlone(guest));
        server.Signal(sig);
        // The member hears that the server went away.
        EXPECT_EQ(guest.Next(), std::string("\x04", 2));
        EXPECT_EQ(server.Wait(), 0);
        const std::string& out = server.Stdout();
        ASSERT_GE(out.size(), 5u);
        EXPECT_EQ(out.substr(out.size() - 5), "\\x04\n");
    }
}

// A stranger that floods the server from many ports, its lines logged within
// the budget of its address: a burst in full, then a summary of the rest.
TEST(CServerProgramTest, AStrangersFloodFromManyPortsStaysWithinItsLogBudget)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_FALSE(server.StartListening(kBoth));
    const auto start = std::chrono::steady_clock::now();
    const std::string refusal = "packet detected from unknown user not signed on!";
    std::vector<std::unique_ptr<CLoopbackDatagram>> ports;
    for (int i = 0; i < 10; ++i)
        ports.push_back(std::make_unique<CLoopbackDatagram>());
    const int sentFirst = StrangerUntilRefused(server, *ports[0], refusal + "\n");
    ASSERT_GT(sentFirst, 0);
    constexpr int kFlood = 1000;
    for (int i = 0; i < kFlood; ++i)
        ports[static_cast<std::size_t>(i) % ports.size()]->SendToServer(i % 2 ? std::string("\x05", 2) : "\x02x");
    server.OutputHolding(" about 127.0.0.1 not logged\n", 5s);
    EXPECT_EQ(server.Stop(), 0);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The refusals written and those counted add up to what came: all of the
    // flood, and some of what was sent while the server started.
    int written = 0, held = 0;
    for (const std::string& line : server.Lines()) {
        int n = 0;
        if (line == refusal)
            ++written;
        else if (std::sscanf(line.c_str(), "... %d lines about 127.0.0.1 not logged", &n) == 1)
            held += n;
    }
    EXPECT_GT(held, 0);
    EXPECT_GE(written + held, kFlood + 1);
    EXPECT_LE(written + held, kFlood + sentFirst);
    EXPECT_LE(written, 100 + static_cast<int>(5 * seconds) + 1) << "a burst of 100, then 5 a second";
}

// Nobody reads the server's standard output (a paused terminal, a stuck log
// collector): the pipe fills, then the server's own buffer, and the relay
// goes on. The lines that did not fit are counted in the log.
TEST(CServerProgramTest, RelaysWhileNobodyReadsItsLog)
{
    CPortLock lock;
    CServerProcess server;
    // One member sends it all, as fast as it is relayed: no flood limit.
    ASSERT_FALSE(server.StartListening(kBoth, {"--flood-limit", "off"}));
    CLoopbackDatagram guest;
    ASSERT_TRUE(JoinAlone(guest));
    // About 1.7 MB of log: more than the pipe and the buffer together hold.
    constexpr int kLines = 4000;
    const std::string filler(400, 'x');
    int relayed = 0;
    for (int i = 0; i < kLines; ++i) {
        const std::string text = std::to_string(i) + " " + filler;
        guest.SendToServer('\x02' + text + '\0');
        if (guest.Next() != "\x02<guest> " + text + '\0')
            break;
        ++relayed;
    }
    EXPECT_EQ(relayed, kLines);

    const std::string& out = server.OutputHolding(" log lines dropped\n", 10s);
    std::istringstream lines(out);
    std::string line;
    int logged = 0, dropped = 0, notices = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("\\x02<guest> " + std::to_string(logged + dropped) + " ", 0) == 0)
            ++logged;
        else if (std::sscanf(line.c_str(), "%d log lines dropped", &dropped) == 1)
            ++notices;
    }
    EXPECT_EQ(notices, 1);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(logged + dropped, kLines) << "every relayed line is in the log or counted as dropped, in order";
    EXPECT_EQ(server.Stop(), 0);
}

TEST(CServerProgramTest, FailedStartPrintsItsMessagesAndExitsOne)
{
    CPortLock lock;
    const CPortHolder holder(SOCK_DGRAM, BROADCAST_PORT);
    ASSERT_TRUE(holder.Held());
    CServerProcess server;
    ASSERT_FALSE(server.Start(kBoth));
    EXPECT_EQ(server.Wait(), 1);
    EXPECT_EQ(server.Stderr(), "UDP create error\nServer init failure\n");
    EXPECT_EQ(server.Stdout(), "");
}

TEST(CServerProgramTest, HelpVersionAndUnknownArguments)
{
    CPortLock lock;  // a server that ignored its arguments would take the ports
    {
        CServerProcess help;
        ASSERT_FALSE(help.Start(kBoth, {"--help"}));
        EXPECT_EQ(help.Wait(), 0);
        EXPECT_EQ(help.Stdout().rfind("Usage: zephran-server ", 0), 0u);
        EXPECT_EQ(help.Stderr(), "");
    }
    {
        CServerProcess version;
        ASSERT_FALSE(version.Start(kBoth, {"--version"}));
        EXPECT_EQ(version.Wait(), 0);
        EXPECT_EQ(version.Stdout(), "zephran-server " ZEPHRAN_VERSION "\n");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port"}, {"2050"}, {"--help", "--version"}, {"--flood-limit"},
          {"--flood-limit", "100"}, {"--flood-limit", "0/50"}, {"--flood-limit", "100/-5"}, {"--listen"},
          {"--listen", "10.0.0"}, {"--listen", "localhost"}, {"--listen", "10.0.0.256"}}) {
        CServerProcess wrong;
        ASSERT_FALSE(wrong.Start(kBoth, args));
        EXPECT_EQ(wrong.Wait(), 2);
        EXPECT_EQ(wrong.Stdout(), "");
        EXPECT_NE(wrong.Stderr().find("Usage: zephran-server"), std::string::npos);
    }
}

// Under systemd's journal each line starts with its priority: the up line
// (naming the --listen address) at notice, a stranger's datagram at warning,
// a sign-on at info, a member's chat line at debug.
TEST(CServerProgramTest, LinesToTheJournalCarryTheirPriority)
{
    CPortLock lock;
    CServerProcess server;
    server.SetStdoutJournal();
    ASSERT_FALSE(server.StartListening(kBoth, {"--listen", "127.0.0.1"}));
    CLoopbackDatagram stranger;
    ASSERT_GT(StrangerUntilRefused(server, stranger, "<4>packet detected from unknown user not signed on!\n"), 0);
    CLoopbackDatagram guest;
    ASSERT_TRUE(JoinAlone(guest));
    guest.SendToServer(std::string("\x02hi", 4));
    EXPECT_EQ(guest.Next(), std::string("\x02<guest> hi", 12));
    server.OutputHolding("<guest> hi\n");
    EXPECT_EQ(server.Stop(), 0);

    const std::vector<std::string> lines = server.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "<5>Server up on 127.0.0.1: TCP port 2050 for sign-ons, UDP port 2051 for the chat");
    const auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("<6>Welcome guest"));
    EXPECT_TRUE(has("<7>\\x02<guest> hi"));
    EXPECT_EQ(lines.back(), "<5>\\x04");
}

// READY=1 reaches NOTIFY_SOCKET once both ports are bound, and STOPPING=1 at
// a stop signal; a server whose port is taken never says it is ready.
TEST(CServerProgramTest, TellsTheServiceManagerItIsReadyOnlyWithBothPortsBound)
{
    CPortLock lock;
    {
        CNotifySocket notify;
        ASSERT_TRUE(notify.Bound());
        CServerProcess server;
        server.SetEnvironment("NOTIFY_SOCKET", notify.Name());
        ASSERT_FALSE(server.Start(kBoth));
        EXPECT_EQ(notify.Next(5000), "READY=1");
        EXPECT_TRUE(IsListening(SIGNON_PORT));
        const CPortHolder udp(SOCK_DGRAM, BROADCAST_PORT);
        EXPECT_FALSE(udp.Held()) << "the datagram port is bound before READY=1";
        EXPECT_EQ(server.OutputHolding(kUpLine), kUpLine + "\n");
        EXPECT_EQ(server.Stop(), 0);
        EXPECT_EQ(notify.Next(1000), "STOPPING=1");
    }
    {
        const CPortHolder tcp(SOCK_STREAM, SIGNON_PORT);
        ASSERT_TRUE(tcp.Held());
        CNotifySocket notify;
        ASSERT_TRUE(notify.Bound());
        CServerProcess server;
        server.SetEnvironment("NOTIFY_SOCKET", notify.Name());
        ASSERT_FALSE(server.Start(kBoth));
        EXPECT_EQ(server.Wait(), 1);
        EXPECT_EQ(notify.Next(0), "");
        EXPECT_EQ(server.Stdout(), "");
    }
}
