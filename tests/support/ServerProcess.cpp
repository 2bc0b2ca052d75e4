#include "ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "Loopback.h"
#include "Protocol.h"

extern char** environ;

namespace {

constexpr auto kStartLimit = std::chrono::seconds(5);

// The child's environment: ours, with the given "NAME=value" in place of
// the variables of those names.
std::vector<char*> Environment(std::vector<std::string>& overrides)
{
    std::vector<char*> env;
    for (char** pp = environ; *pp != nullptr; ++pp) {
        bool bReplaced = false;
        for (const std::string& entry : overrides)
            bReplaced = bReplaced || std::strncmp(*pp, entry.c_str(), entry.find('=') + 1) == 0;
        if (!bReplaced)
            env.push_back(*pp);
    }
    for (std::string& entry : overrides)
        env.push_back(entry.data());
    env.push_back(nullptr);
    return env;
}

// Read once from fd what is there into text. False once the stream has ended.
bool ReadSome(int fd, std::string& text)
{
    char buf[65536];
    ssize_t n;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EAGAIN);
}

}  // namespace

CServerProcess::~CServerProcess()
{
    Kill();
    ClosePipes();
}

void CServerProcess::SetEnvironment(const std::string& name, const std::string& value)
{
    m_environment.push_back(name + "=" + value);
}

bool CServerProcess::Start(EOutput output, const std::vector<std::string>& args)
{
    Kill();
    ClosePipes();
    m_stdout.clear();
    m_stderr.clear();
    m_nStatus = -1;

    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if ((output != EOutput::Discard && ::pipe2(out, O_CLOEXEC) != 0) ||
        (output == EOutput::CaptureBoth && ::pipe2(err, O_CLOEXEC) != 0))
        return true;
    if (out[1] >= 0 && m_nPipeBytes > 0)
        ::fcntl(out[1], F_SETPIPE_SZ, m_nPipeBytes);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out[1] >= 0)
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (err[1] >= 0)
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> environment = m_environment;
    struct stat about;
    if (m_bStdoutJournal && out[1] >= 0 && ::fstat(out[1], &about) == 0)
        environment.push_back("JOURNAL_STREAM=" + std::to_string(about.st_dev) + ":" + std::to_string(about.st_ino));
    std::vector<char*> argv{m_program.data()};
    std::vector<std::string> argCopies = args;
    for (std::string& arg : argCopies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, m_program.c_str(), &actions, nullptr, argv.data(),
                                 Environment(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {out[1], err[1]})
        if (fd >= 0)
            ::close(fd);
    m_out = out[0];
    m_err = err[0];
    if (rc != 0) {
        m_pid = -1;
        ClosePipes();
        return true;
    }
    return false;
}

bool CServerProcess::StartListening(EOutput output, const std::vector<std::string>& args)
{
    if (Start(output, args))
        return true;
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!IsListening(SIGNON_PORT)) {
        if (!Running())
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            Kill();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool CServerProcess::Running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t rc;
    do
        rc = ::waitpid(m_pid, &status, WNOHANG);
    while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return true;
    m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    m_pid = -1;
    return false;
}

void CServerProcess::Signal(int sig) const
{
    if (m_pid > 0)
        ::kill(m_pid, sig);
}

void CServerProcess::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    while (Running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int CServerProcess::Wait(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        if (!ReadOutput(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // What the child wrote last is still in the pipes.
    while (ReadOutput(10) && std::chrono::steady_clock::now() < deadline) {
    }
    return m_nStatus;
}

int CServerProcess::Stop(std::chrono::milliseconds limit)
{
    Signal(SIGTERM);
    return Wait(limit);
}

bool CServerProcess::ReadOutput(int waitMs)
{
    pollfd fds[2];
    nfds_t count = 0;
    for (int fd : {m_out, m_err})
        if (fd >= 0)
            fds[count++] = {fd, POLLIN, 0};
    if (count == 0)
        return false;
    if (::poll(fds, count, waitMs) <= 0)
        return true;
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents == 0)
            continue;
        const bool bOut = fds[i].fd == m_out;
        if (!ReadSome(fds[i].fd, bOut ? m_stdout : m_stderr)) {
            ::close(fds[i].fd);
            (bOut ? m_out : m_err) = -1;
        }
    }
    return m_out >= 0 || m_err >= 0;
}

const std::string& CServerProcess::OutputHolding(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_stdout.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        if (!ReadOutput(20))
            break;
    return m_stdout;
}

std::vector<std::string> CServerProcess::Lines()
{
    ReadOutput(0);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = m_stdout.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(m_stdout.substr(start, end - start));
    return lines;
}

void CServerProcess::ClosePipes()
{
    for (int* pFd : {&m_out, &m_err}) {
        if (*pFd >= 0)
            ::close(*pFd);
        *pFd = -1;
    }
}
