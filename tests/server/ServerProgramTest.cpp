#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "RawPeers.h"
#include "TestSupport.h"
#include "Wire.h"

using namespace std::chrono_literals;

namespace {

// zephran-server as a child process with its standard output and error
// read through pipes. Every wait is bounded; a child still running at the
// end is killed.
class CServerProcess {
public:
    CServerProcess()
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) < 0 || ::pipe2(err, O_CLOEXEC) < 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execl(ZEPHRAN_SERVER_PATH, ZEPHRAN_SERVER_PATH, static_cast<char*>(nullptr));
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
        char buf[1024];
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
std::unique_ptr<CRawStream> ConnectWhenListening()
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        auto pConn = std::make_unique<CRawStream>();
        if (pConn->Connected() || std::chrono::steady_clock::now() >= deadline)
            return pConn;
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace

TEST(ZephranServerTest, GuestSignsOnSaysHiAndLeaves)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_TRUE(server.Running());
    CRawDatagram guest;
    auto pConn = ConnectWhenListening();
    ASSERT_TRUE(pConn->Connected());
    pConn->Send(EncodeHello("guest") + "\x05\x05" + EncodePortNotice(guest.PortNetworkOrder()));
    const std::string room = pConn->ReadToEnd();
    ASSERT_EQ(room.size(), 11u);
    const std::int32_t ping = DecodeInt32(room.data() + 7);

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
    EXPECT_EQ(server.Stdout(), "New Connection Accepted from: 127.0.0.1\n"
                               "Receiving Client Information...\n"
                               "Checking version\n"
                               "  Version 2 Passed...\n"
                               "Welcome guest\n"
                               "Sending client room information\n"
                               "client got ping time of " + std::to_string(ping) + " ms\n"
                               "Moving client to UDP port\n" +
                                   FormatNew(ping, "guest") + "\n" +
                                   "\x02* guest has joined the chat!\n"
                                   "\x02<guest> hi\n"
                                   "\x03guest\n"
                                   "\x02* guest has left the chat!\n"
                                   "\x04\n");
    EXPECT_EQ(server.Stderr(), "");
}

TEST(ZephranServerTest, InterruptShutsDownAndExitsCleanly)
{
    CPortLock lock;
    CServerProcess server;
    ASSERT_TRUE(server.Running());
    // A stranger's datagram shows that the server is up: it logs the refusal.
    CRawDatagram stranger;
    const std::string refusal = "packet detected from unknown user not signed on!\n";
    for (int i = 0; i < 100 && server.OutputHolding(refusal, 50ms).find(refusal) == std::string::npos; ++i)
        stranger.SendToServer(std::string("\x05", 2));
    ASSERT_NE(server.Stdout().find(refusal), std::string::npos);
    server.Signal(SIGINT);
    EXPECT_EQ(server.ExitCode(), 0);
    const std::string& out = server.Stdout();
    EXPECT_EQ(out.substr(out.size() - 2), "\x04\n");
}

TEST(ZephranServerTest, FailedStartPrintsItsMessagesAndExitsOne)
{
    CPortLock lock;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = LoopbackAddress(BROADCAST_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    CServerProcess server;
    EXPECT_EQ(server.ExitCode(), 1);
    EXPECT_EQ(server.Stderr(), "UDP create error\nServer init failure\n");
    EXPECT_EQ(server.Stdout(), "");
    ::close(fd);
}
