#pragma once
// The control channel between the benchmark's server process and its load
// process: fixed-size commands one way, fixed-size reports the other, each
// one message of a SOCK_SEQPACKET socket pair. Owns its end of the pair.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// What the load process is told to do. Members are numbered 0..n-1 in the
// order they sign on; member i is named "u%04d" with i.
enum class ELoadOp : std::int32_t {
    Open,    // have nMembers datagram sockets ready; replies with their ports
    SignOn,  // sign members 0..nMembers-1 on, one after another, counting the joins
    Relay,   // members 0..nSenders-1 send nLines lines each; count the relays
    Expect,  // nLines relayed lines "from u0000" will come from outside; count them
    Quit,
};

struct CLoadCommand {
    ELoadOp op = ELoadOp::Quit;
    std::int32_t nMembers = 0;
    std::int32_t nSenders = 0;
    std::int32_t nLines = 0;   // per sender (Relay) or per member (Expect)
    std::int32_t nWindow = 0;  // lines a sender may have in flight; 0: all at once
};

// One phase as the load process saw it. Times are NowNs() stamps.
struct CLoadReport {
    bool bReady = false;            // only "counters reset, go ahead" (Expect)
    std::int64_t startNs = 0;       // the first send of the phase (0 if sent from outside)
    std::int64_t lastNs = 0;        // the arrival that completed the phase (or the last one)
    std::int64_t signedNs = 0;      // SignOn: the end of the last sign-on exchange
    std::int64_t cpuNs = 0;         // the load process's CPU time during the phase
    std::int64_t expected = 0;      // datagrams that every member together should get
    std::int64_t received = 0;      // of those, how many came
    std::int64_t disordered = 0;    // relayed lines out of order or unreadable
    std::int32_t nFailedSignOns = 0;
    std::int32_t nPorts = 0;        // Open: the ports follow as one more message
};

class CLoadLink {
public:
    explicit CLoadLink(int fd = -1) : m_fd(fd) {}
    ~CLoadLink()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CLoadLink(const CLoadLink&) = delete;
    CLoadLink& operator=(const CLoadLink&) = delete;

    int Fd() const { return m_fd; }

    // Each true if it failed (the other process is gone).
    template <class T>
    bool Put(const T& message) const
    {
        return ::send(m_fd, &message, sizeof message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof message);
    }
    template <class T>
    bool Get(T& message) const
    {
        return ::recv(m_fd, &message, sizeof message, 0) != static_cast<ssize_t>(sizeof message);
    }
    bool PutBytes(const void* pData, std::size_t len) const
    {
        return ::send(m_fd, pData, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len);
    }
    bool GetBytes(void* pData, std::size_t len) const
    {
        return ::recv(m_fd, pData, len, 0) != static_cast<ssize_t>(len);
    }

private:
    int m_fd;
};
