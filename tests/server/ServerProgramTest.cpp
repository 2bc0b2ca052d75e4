#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Loopback.h"
#include "LoopbackDatagram.h"
#include "LoopbackStream.h"
#include "PortHolder.h"
#include "Protocol.h"
#include "TestSupport.h"
#include "Wire.h"

using namespace std::chrono_literals;

namespace {

// zephran-server as a child process with its standard output and error
// read through pipes, read only when a test asks. Every wait is bounded; a
// child still running at the end is killed.
class CServerProcess {
public:
    explicit CServerProcess(std::vector<std::string> args = {})
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) < 0 || ::pipe2(err, O_CLOEXEC) < 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(ZEPHRAN_SERVER_PATH)};
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(ZEPHRAN_SERVER_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~CServerProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    bool Running() const { return m_pid > 0; }
    void Signal(int sig) const { ::kill(m_pid, sig); }

    // Standard output so far, waiting up to limit for it to hold text.
    const std::string& OutputHolding(const std::string& text, std::chrono::milliseconds limit = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_stdout.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline)
            if (!ReadSome(m_out, m_stdout, 20))
                break;
        return m_stdout;
    }
    // Waits for the exit (bounded), reading both streams to their end.
    int ExitCode()
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        bool outOpen = true, errOpen = true;
        while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
            outOpen = outOpen && ReadSome(m_out, m_stdout, 20);
            errOpen = errOpen && ReadSome(m_err, m_stderr, 20);
        }
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(10ms);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Stdout() const { return m_stdout; }
    const std::string& Stderr() const { return m_stderr; }

private:
    // False once the stream has ended.
    static bool ReadSome(int fd, std::string& into, int waitMs)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return true;
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            into.append(buf, static_cast<std::size_t>(n));
        return n > 0;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
};

// Connects to the sign-on port once the server listens (bounded).
std::unique_ptr<CLoopbackStream> ConnectWhenListening()
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        auto pConn = std::make_unique<CLoopbackStream>(SIGNON_PORT);
        if (pConn->IsOpen() || std::chrono::steady_clock::now() >= deadline)
            return pConn;
        std::this_thread::sleep_for(20ms);
    }
}

// Signs guest on as the only user once the server listens; returns the
// ping the server measured, or -1 if the sign-on failed.
std::int32_t SignOnAlone(const CLoopbackDatagram& guest)
{
    auto pConn = ConnectWhenListening();
    if (!pConn->IsOpen())
        return -1;
    pConn->Send(EncodeHello("guest") + "\x05\x05" + EncodePortNotice(guest.PortNetworkOrder()));
    const std::string room = pConn->ReadToEnd();
    return room.size() == 11u ? DecodeInt32(room.data() + 7) : -1;
}

// SignOnAlone, then guest's reads of its own two announcements. True if
// all went well.
bool JoinAlone(const CLoopbackDatagram& guest)
{
    return SignOnAlone(guest) >= 0 && guest.Next() != "<none>" && guest.Next() != "<none>";
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

TEST(ZephranServerTest, GuestSignsOnSaysHiAndLeaves)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_TRUE(server.Running());
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
    server.Signal(SIGTERM);
    EXPECT_EQ(server.ExitCode(), 0);
    // Each datagram's type byte is written escaped, so each log line is one line.
    EXPECT_EQ(server.Stdout(), "New Connection Accepted from: 127.0.0.1\n"
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

TEST(ZephranServerTest, InterruptTerminateAndHangUpShutDownAndExitCleanly)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        CPortLock lock;
        CServerProcess server;
        ASSERT_TRUE(server.Running());
        CLoopbackDatagram guest;
        ASSERT_TRUE(JoinAlone(guest));
        server.Signal(sig);
        // The member hears that the server went away.
        EXPECT_EQ(guest.Next(), std::string("\x04", 2));
        EXPECT_EQ(server.ExitCode(), 0);
        const std::string& out = server.Stdout();
        ASSERT_GE(out.size(), 5u);
        EXPECT_EQ(out.substr(out.size() - 5), "\\x04\n");
    }
}

TEST(ZephranServerTest, AStrangersFloodIsLoggedOnceThenCounted)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_TRUE(server.Running());
    CLoopbackDatagram stranger;
    const std::string refusal = "packet detected from unknown user not signed on!\n";
    const int sentFirst = StrangerUntilRefused(server, stranger, refusal);
    ASSERT_GT(sentFirst, 0);
    for (int i = 0; i < 50; ++i)
        stranger.SendToServer(std::string("\x05", 2));
    // The count comes a second after the first repeat, the flood going on.
    server.OutputHolding("last line repeated ", 5s);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.ExitCode(), 0);

    // The refusal once, then counts that add up to the datagrams that came
    // (all but those sent before the server was up).
    std::istringstream lines(server.Stdout());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line + "\n", refusal);
    int counted = 1, countLines = 0;
    while (std::getline(lines, line) && line != "\\x04") {
        int n = 1;  // a single repeat is written as the line itself
        if (line + "\n" != refusal) {
            ASSERT_EQ(std::sscanf(line.c_str(), "last line repeated %d times", &n), 1) << line;
        }
        counted += n;
        ++countLines;
    }
    EXPECT_EQ(line, "\\x04");
    EXPECT_GE(counted, 51);
    EXPECT_LE(counted, sentFirst + 50);
    EXPECT_LT(countLines, 10);
}

// Nobody reads the server's standard output (a paused terminal, a stuck log
// collector): the pipe fills, then the server's own buffer, and the relay
// goes on. The lines that did not fit are counted in the log.
TEST(ZephranServerTest, RelaysWhileNobodyReadsItsLog)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_TRUE(server.Running());
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
    server.Signal(SIGTERM);
    EXPECT_EQ(server.ExitCode(), 0);
}

TEST(ZephranServerTest, FailedStartPrintsItsMessagesAndExitsOne)
{
    CPortLock lock;
    const CPortHolder holder(SOCK_DGRAM, BROADCAST_PORT);
    ASSERT_TRUE(holder.Held());
    CServerProcess server;
    EXPECT_EQ(server.ExitCode(), 1);
    EXPECT_EQ(server.Stderr(), "UDP create error\nServer init failure\n");
    EXPECT_EQ(server.Stdout(), "");
}

TEST(ZephranServerTest, HelpVersionAndUnknownArguments)
{
    CPortLock lock;  // a server that ignored its arguments would take the ports
    {
        CServerProcess help({"--help"});
        EXPECT_EQ(help.ExitCode(), 0);
        EXPECT_EQ(help.Stdout().rfind("Usage: zephran-server [--help | --version]\n", 0), 0u);
        EXPECT_EQ(help.Stderr(), "");
    }
    {
        CServerProcess version({"--version"});
        EXPECT_EQ(version.ExitCode(), 0);
        EXPECT_EQ(version.Stdout(), "zephran-server " ZEPHRAN_VERSION "\n");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port"}, {"2050"}, {"--help", "--version"}}) {
        CServerProcess wrong(args);
        EXPECT_EQ(wrong.ExitCode(), 2);
        EXPECT_EQ(wrong.Stdout(), "");
        EXPECT_NE(wrong.Stderr().find("Usage: zephran-server"), std::string::npos);
    }
}
