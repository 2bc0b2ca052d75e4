#pragma once
// zephran-server run as a child process for the client's tests, its log
// thrown away. Start waits (bounded) until it listens; Stop sends SIGTERM
// and reaps it. Owns the child: the destructor kills one still running.

#include <sys/types.h>

class CServerProcess {
public:
    CServerProcess() = default;
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // True (failed) if the server could not be started or never listened.
    bool Start();
    // SIGTERM, then wait for the exit. The exit status, or -1 if the child
    // did not end normally in time.
    int Stop();

private:
    pid_t m_pid = -1;
};
