#pragma once
// The relay benchmark's server side: measures the loopback limit, the relay
// and the sign-ons of each server target against the load process, the
// server's memory per user and the window's log, and prints one table.
// Does not own the link or the targets.

#include <cstdint>
#include <string>
#include <vector>

#include "LoadLink.h"

class CServerTarget;

class CRelayBench {
public:
    explicit CRelayBench(CLoadLink& link) : m_link(link) {}

    // Have the load process open `members` sockets. True if it failed.
    bool Open(int members);
    // Every room size with one target. The limit is measured afresh before
    // each room and again around each relay row, so that a row and its limit
    // meet the same load on the machine. True if the server could not start.
    bool MeasureTarget(CServerTarget& target);
    void AddLogBlocks(const std::vector<std::int64_t>& blockNs, int linesPerBlock);
    void Print() const;

private:
    struct CLimit {
        std::string target;  // measured next to this target's rows
        int n = 0;
        CLoadReport plain, batched;
        std::int64_t plainStartNs = 0, batchedStartNs = 0;
        std::int64_t plainCpuNs = 0, batchedCpuNs = 0;
    };
    struct CRow {
        std::string target, what;
        int n = 0, senders = 0, lines = 0;
        CLoadReport report;
        std::int64_t serverCpuNs = 0;
        std::int64_t phaseNs = 0;   // the whole phase, as this process saw it
        std::int64_t otherNs = 0;   // busy time of everything else meanwhile
        std::int64_t idleNs = 0;    // idle time of all processors meanwhile
        double limitRate = 0.0;     // sendmmsg deliveries per second, measured around the row
    };
    struct CMemory {
        std::string target;
        int users = 0;
        std::int64_t residentBytes = 0, heapBytes = 0;
    };

    void MeasureLimit(CLimit& limit, bool batched);
    bool Phase(CServerTarget& target, const CLoadCommand& cmd, CRow& row);
    // Run one phase of the load against target, the limit measured first.
    bool MeasuredPhase(CServerTarget& target, const CLoadCommand& cmd, const char* pWhat);

    CLoadLink& m_link;
    std::vector<std::uint16_t> m_ports;  // the members' ports, network order
    std::vector<CLimit> m_limits;
    std::vector<CRow> m_relays;
    std::vector<CRow> m_signOns;
    std::vector<CMemory> m_memory;
    std::vector<std::int64_t> m_logBlockNs;
    int m_nLogLinesPerBlock = 0;
};
