#pragma once
// The relay benchmark's client rows: one client under measurement in a room
// whose other members, the load process's, send as fast as the relay carries
// their lines; how many lines a second the client shows against the relay,
// and what it costs. The room's server, zephran-server, runs in a process of
// its own. Does not own the link, the server or the targets.

#include <cstdint>
#include <string>
#include <vector>

#include "LoadLink.h"

class CClientTarget;
class CServerProcess;

class CClientBench {
public:
    CClientBench(CLoadLink& link, CServerProcess& room) : m_link(link), m_room(room) {}

    // Every room size with one target. True if the server or the client did
    // not start, or the load process went.
    bool MeasureTarget(CClientTarget& target);
    void Print() const;

private:
    struct CRow {
        std::string target;
        int n = 0, senders = 0;
        std::int64_t lines = 0;       // relayed lines, each of which the client should show
        std::int64_t shown = 0;
        std::int64_t shownLastNs = 0;  // when the last of them was shown
        CLoadReport report;            // the other members' view of the relay
        std::int64_t clientCpuNs = 0, serverCpuNs = 0;
        std::int64_t phaseNs = 0, otherNs = 0, idleNs = 0;

        double RelayRate() const;  // lines a second until every other member had every line
        double ShownRate() const;  // lines a second until the client showed its last
        double OfRelay() const;    // ShownRate() / RelayRate()
    };

    bool Row(CClientTarget& target, int n);
    bool RelayPhase(CClientTarget& target, int n, CRow& row);

    CLoadLink& m_link;
    CServerProcess& m_room;
    std::vector<CRow> m_rows;
};
