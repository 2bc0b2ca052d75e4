#include "ServerProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

constexpr auto kLimit = std::chrono::seconds(5);

// A socket listening on SIGNON_PORT (0x0802) shows in /proc/net/tcp with
// state 0A. The server makes its datagram socket before it listens.
bool SignOnPortListens()
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line))
        if (line.find(":0802 00000000:0000 0A") != std::string::npos)
            return true;
    return false;
}

// Reap the child if it has ended; true once it has, with its wait status.
bool Reaped(pid_t pid, int* pStatus)
{
    pid_t rc;
    do
        rc = ::waitpid(pid, pStatus, WNOHANG);
    while (rc < 0 && errno == EINTR);
    return rc == pid;
}

}  // namespace

CServerProcess::~CServerProcess()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status;
    ::waitpid(m_pid, &status, 0);
}

bool CServerProcess::Start()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char* const argv[] = {const_cast<char*>(ZEPHRAN_SERVER_PATH), nullptr};
    const int rc = ::posix_spawn(&m_pid, ZEPHRAN_SERVER_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    int status;
    while (!SignOnPortListens()) {
        if (Reaped(m_pid, &status)) {
            m_pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return true;  // the destructor kills it
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int CServerProcess::Stop()
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    int status = 0;
    while (!Reaped(m_pid, &status)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;  // the destructor kills it
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
