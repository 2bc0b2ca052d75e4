#pragma once
// The floods of the soak, on a thread of their own: a member that sends
// datagrams of every kind (lines, pings, unknown types, any texts) far faster
// than its rate, and a stranger that does the same from many ports. The
// member reads what comes back: how many of its lines the room got, and
// whether it was told to slow down. Owns its sockets.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackDatagram.h"

struct CFloodCounts {
    std::atomic<std::uint64_t> memberSent{0};
    std::atomic<std::uint64_t> memberRelayed{0};  // its own lines that came back to it
    std::atomic<std::uint64_t> notices{0};        // "* Slow down: ..." lines to it
    std::atomic<std::uint64_t> strangerSent{0};
    std::atomic<bool> bSignedOn{false};
};

// Who floods, and how.
struct CFloodPlan {
    bool bMember = true;
    bool bStranger = true;
    // Every other datagram of the stranger too long to be received whole, so
    // that what the server logs about it alternates between two texts.
    bool bOversized = false;
};

class CSoakFlood {
public:
    using Clock = std::chrono::steady_clock;

    // rate: datagrams a second from the member and from the stranger each;
    // a rate past what the machine can send floods at full speed.
    CSoakFlood(int rate, unsigned seed, CFloodPlan plan = {});
    ~CSoakFlood();  // waits for the thread; the sockets close
    CSoakFlood(const CSoakFlood&) = delete;
    CSoakFlood& operator=(const CSoakFlood&) = delete;

    void Start(Clock::time_point until);
    void Join();
    // How many of its lines the flooding member may have had relayed in the
    // seconds it flooded, at the server's default rate.
    double Allowed() const;

    CFloodCounts m_counts;

private:
    void Run(Clock::time_point until);
    void Drain();
    std::string Datagram();

    int m_nRate;
    CFloodPlan m_plan;
    std::mt19937 m_random;
    CLoopbackDatagram m_member;
    std::vector<std::unique_ptr<CLoopbackDatagram>> m_strangers;  // one stranger, many ports
    std::thread m_thread;
    double m_seconds = 0;  // how long the member flooded
};
