#include "RelayBench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "BenchClock.h"
#include "LoadSide.h"
#include "Loopback.h"
#include "ServerTarget.h"

namespace {

constexpr int kRooms[] = {10, 100, 1000};
// Every relay row delivers the same number of datagrams, whatever the room.
constexpr int kDeliveries = 200'000;
// Lines a room may have queued at the server at once: the senders send on
// as their own lines come back, and the queue never outgrows the receive
// buffer the system gives a socket by default, so the relay rows measure the
// relay and nothing else. The burst row measures the buffer.
constexpr int kLinesInFlight = 160;
constexpr int kBurstRoom = 100, kBurstSenders = 10, kBurstLines = 200;
constexpr int kMemoryRoom = 1000;
constexpr int kMaxBatch = 1024;  // the most messages one sendmmsg takes

double Seconds(std::int64_t ns) { return static_cast<double>(ns) / 1e9; }
double Percent(std::int64_t part, std::int64_t whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }
// The load process counts as the bottleneck when it was this busy.
bool LoadBound(const CLoadReport& report, std::int64_t wallNs) { return Percent(report.cpuNs, wallNs) >= 90.0; }

// Deliveries per second of a limit measurement that reached its load.
double Rate(const CLoadReport& report, std::int64_t startNs)
{
    return report.lastNs > startNs ? static_cast<double>(report.received) / Seconds(report.lastNs - startNs) : 0.0;
}

}  // namespace

bool CRelayBench::Open(int members)
{
    CLoadCommand cmd;
    cmd.op = ELoadOp::Open;
    cmd.nMembers = members;
    CLoadReport report;
    if (m_link.Put(cmd) || m_link.Get(report) || report.nPorts != members)
        return true;
    m_ports.resize(static_cast<std::size_t>(members));
    return m_link.GetBytes(m_ports.data(), m_ports.size() * sizeof m_ports[0]);
}

void CRelayBench::MeasureLimit(CLimit& limit, bool batched)
{
    // The relay of kDeliveries / n lines from user 0 to n members, sent by a
    // plain socket as fast as the system takes it: what no server can beat.
    const int n = limit.n;
    const int lines = kDeliveries / n;
    CLoadCommand cmd;
    cmd.op = ELoadOp::Expect;
    cmd.nMembers = n;
    cmd.nLines = lines;
    CLoadReport ready;
    if (m_link.Put(cmd) || m_link.Get(ready))
        return;

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::vector<sockaddr_in> to(static_cast<std::size_t>(n));
    for (int m = 0; m < n; ++m)
        to[static_cast<std::size_t>(m)] = LoopbackAddress(ntohs(m_ports[static_cast<std::size_t>(m)]));
    std::vector<mmsghdr> msgs(static_cast<std::size_t>(std::min(n, kMaxBatch)));
    char datagram[64];
    iovec iov{datagram, 0};
    // A moment without buffers is waited out, as the server does.
    auto retry = [] {
        if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        return true;
    };

    const std::int64_t cpuStart = CpuNs();
    const std::int64_t start = NowNs();
    for (int line = 0; line < lines; ++line) {
        iov.iov_len = static_cast<std::size_t>(FormatBenchRelay(datagram, 0, line));
        if (!batched) {
            for (int m = 0; m < n; ++m)
                while (::sendto(fd, datagram, iov.iov_len, 0, reinterpret_cast<const sockaddr*>(&to[static_cast<std::size_t>(m)]),
                                sizeof(sockaddr_in)) < 0 && retry()) {
                }
            continue;
        }
        for (int first = 0; first < n;) {
            const int count = std::min(n - first, kMaxBatch);
            for (int i = 0; i < count; ++i) {
                msghdr& hdr = msgs[static_cast<std::size_t>(i)].msg_hdr;
                hdr = {};
                hdr.msg_name = &to[static_cast<std::size_t>(first + i)];
                hdr.msg_namelen = sizeof(sockaddr_in);
                hdr.msg_iov = &iov;
                hdr.msg_iovlen = 1;
            }
            const int sent = ::sendmmsg(fd, msgs.data(), static_cast<unsigned>(count), 0);
            if (sent > 0)
                first += sent;
            else if (!retry())
                break;
        }
    }
    const std::int64_t cpu = CpuNs() - cpuStart;
    ::close(fd);

    CLoadReport report;
    if (m_link.Get(report))
        return;
    (batched ? limit.batched : limit.plain) = report;
    (batched ? limit.batchedStartNs : limit.plainStartNs) = start;
    (batched ? limit.batchedCpuNs : limit.plainCpuNs) = cpu;
}

bool CRelayBench::Phase(CServerTarget& target, const CLoadCommand& cmd, CRow& row)
{
    row.target = target.Name();
    row.n = cmd.nMembers;
    row.senders = cmd.nSenders;
    row.lines = cmd.nSenders * cmd.nLines;
    const CMachineCpu machine = MachineCpu();
    const std::int64_t start = NowNs(), cpuStart = target.ServerCpuNs();
    if (m_link.Put(cmd) || target.Await(m_link, row.report))
        return true;
    row.serverCpuNs = target.ServerCpuNs() - cpuStart;
    row.phaseNs = NowNs() - start;
    const CMachineCpu after = MachineCpu();
    // Besides this process and the load: other programs, and the kernel's
    // own deferred packet work where it is not charged to either.
    // (Ticks of a hundredth of a second make it a little negative at times.)
    row.otherNs = std::max<std::int64_t>(0, after.busyNs - machine.busyNs - row.serverCpuNs - row.report.cpuNs);
    row.idleNs = after.idleNs - machine.idleNs;
    return false;
}

bool CRelayBench::MeasuredPhase(CServerTarget& target, const CLoadCommand& cmd, const char* pWhat)
{
    // The limit right before and right after the row, averaged: what else
    // runs on the machine changes from one second to the next.
    CLimit before, after;
    before.n = after.n = cmd.nMembers;
    MeasureLimit(before, true);
    CRow row;
    row.what = pWhat;
    if (Phase(target, cmd, row))
        return true;
    MeasureLimit(after, true);
    row.limitRate = (Rate(before.batched, before.batchedStartNs) + Rate(after.batched, after.batchedStartNs)) / 2;
    m_relays.push_back(row);
    return false;
}

bool CRelayBench::MeasureTarget(CServerTarget& target)
{
    for (int n : kRooms) {
        CLimit limit;
        limit.target = target.Name();
        limit.n = n;
        MeasureLimit(limit, false);
        MeasureLimit(limit, true);
        m_limits.push_back(limit);

        bool broken = false;
        const bool failed = target.Serve([&] {
            CLoadCommand signOn;
            signOn.op = ELoadOp::SignOn;
            signOn.nMembers = n;
            const std::int64_t resident = ResidentBytes(), heap = HeapInUseBytes();
            CRow row;
            row.what = "sign-on";
            row.limitRate = Rate(limit.batched, limit.batchedStartNs);
            if ((broken = Phase(target, signOn, row)))
                return;
            m_signOns.push_back(row);
            if (n == kMemoryRoom && target.InProcess())
                m_memory.push_back({target.Name(), n, ResidentBytes() - resident, HeapInUseBytes() - heap});

            CLoadCommand relay;
            relay.op = ELoadOp::Relay;
            relay.nMembers = n;
            for (int senders : {1, 10}) {
                relay.nSenders = senders;
                relay.nLines = kDeliveries / n / senders;
                relay.nWindow = kLinesInFlight / senders;
                if ((broken = MeasuredPhase(target, relay, "relay")))
                    return;
            }
            if (n == kBurstRoom) {
                relay.nSenders = kBurstSenders;
                relay.nLines = kBurstLines;
                relay.nWindow = 0;
                if ((broken = MeasuredPhase(target, relay, "burst")))
                    return;
            }
        });
        if (failed || broken) {
            std::fprintf(stderr, "relay_bench: %s %s\n", target.Name(),
                         failed ? "did not start (ports 2050/2051 taken?)" : "lost the load process");
            return true;
        }
    }
    return false;
}

void CRelayBench::AddLogBlocks(const std::vector<std::int64_t>& blockNs, int linesPerBlock)
{
    m_logBlockNs = blockNs;
    m_nLogLinesPerBlock = linesPerBlock;
}

void CRelayBench::Print() const
{
    std::printf("ZEPHRAN relay_bench: 127.0.0.1, relayed lines of 48 bytes, %d deliveries per relay row\n",
                kDeliveries);
    std::printf("\nThe limit: one socket sends each line to N sockets; the load process reads them\n");
    std::printf("%-14s %5s %10s %12s %12s %10s %10s\n", "next to", "N", "datagrams", "sendto/s", "sendmmsg/s",
                "load cpu", "send cpu");
    for (const CLimit& l : m_limits) {
        const std::int64_t plainNs = l.plain.lastNs - l.plainStartNs, batchedNs = l.batched.lastNs - l.batchedStartNs;
        std::printf("%-14s %5d %10lld %12.0f %12.0f %4.0f%%/%3.0f%% %4.0f%%/%3.0f%%%s\n", l.target.c_str(), l.n,
                    static_cast<long long>(l.batched.expected), l.plain.received / Seconds(plainNs),
                    l.batched.received / Seconds(batchedNs), Percent(l.plain.cpuNs, plainNs),
                    Percent(l.batched.cpuNs, batchedNs), Percent(l.plainCpuNs, plainNs),
                    Percent(l.batchedCpuNs, batchedNs),
                    LoadBound(l.batched, batchedNs) ? "  load-bound" : "");
    }

    std::printf("\nRelay: time from the first line sent until every member has every relayed line; the\n"
                "limit (sendmmsg) of each row is the mean of one measured right before it and one right after\n");
    std::printf("%-14s %-6s %5s %7s %6s %9s %12s %9s %7s %6s %6s %7s %7s %6s %5s\n", "target", "kind", "N",
                "senders", "lines", "ms", "deliveries/s", "limit/s", "x limit", "lost", "order", "srv cpu", "load cpu",
                "other", "idle");
    for (const CRow& r : m_relays) {
        const std::int64_t wall = r.report.lastNs - r.report.startNs;
        const double rate = r.report.received / Seconds(wall);
        const double limit = r.limitRate;
        std::printf("%-14s %-6s %5d %7d %6d %9.1f %12.0f %9.0f %7.2f %6lld %6lld %6.0f%% %6.0f%% %5.0f%% %4.0f%%%s\n",
                    r.target.c_str(), r.what.c_str(), r.n, r.senders, r.lines, wall / 1e6, rate, limit,
                    limit > 0 ? rate / limit : 0.0, static_cast<long long>(r.report.expected - r.report.received),
                    static_cast<long long>(r.report.disordered), Percent(r.serverCpuNs, wall),
                    Percent(r.report.cpuNs, wall), Percent(r.otherNs, r.phaseNs), Percent(r.idleNs, r.phaseNs),
                    LoadBound(r.report, wall) ? "  load-bound" : "");
    }

    std::printf("\nSign-on: N users one after another, each announced (HDR_NEW and join line) to all there,\n"
                "against the same datagrams at the limit measured before the room\n");
    std::printf("%-14s %5s %10s %9s %12s %8s %7s %6s %6s %7s %7s %6s %5s\n", "target", "N", "datagrams", "ms",
                "at limit ms", "x limit", "per user", "lost", "failed", "srv cpu", "load cpu", "other", "idle");
    for (const CRow& r : m_signOns) {
        const std::int64_t wall = std::max(r.report.lastNs, r.report.signedNs) - r.report.startNs;
        const double limit = r.limitRate;
        const double atLimitMs = limit > 0 ? r.report.expected / limit * 1e3 : 0.0;
        std::printf("%-14s %5d %10lld %9.1f %12.1f %8.2f %5.0fus %6lld %6d %6.0f%% %6.0f%% %5.0f%% %4.0f%%%s\n",
                    r.target.c_str(), r.n, static_cast<long long>(r.report.expected), wall / 1e6, atLimitMs,
                    wall > 0 ? atLimitMs * 1e6 / wall : 0.0, wall / 1e3 / r.n,
                    static_cast<long long>(r.report.expected - r.report.received), r.report.nFailedSignOns,
                    Percent(r.serverCpuNs, wall), Percent(r.report.cpuNs, wall), Percent(r.otherNs, r.phaseNs),
                    Percent(r.idleNs, r.phaseNs), LoadBound(r.report, wall) ? "  load-bound" : "");
    }

    if (!m_memory.empty()) {
        std::printf("\nServer memory per signed-on user (growth over %d sign-ons)\n", kMemoryRoom);
        std::printf("%-14s %14s %14s\n", "target", "resident/user", "heap/user");
    }
    for (const CMemory& m : m_memory)
        std::printf("%-14s %12.0f B %12.0f B%s\n", m.target.c_str(), static_cast<double>(m.residentBytes) / m.users,
                    static_cast<double>(m.heapBytes) / m.users,
                    m.target == "server window" ? "  (with its log: 10 lines per sign-on)" : "");

    if (!m_logBlockNs.empty()) {
        std::printf("\nServer window log: appending blocks of %d lines\n", m_nLogLinesPerBlock);
        std::printf("%10s %9s %9s\n", "lines", "cpu ms", "us/line");
        for (std::size_t b = 0; b < m_logBlockNs.size(); ++b)
            std::printf("%10lld %9.1f %9.2f\n", static_cast<long long>(b + 1) * m_nLogLinesPerBlock,
                        m_logBlockNs[b] / 1e6, m_logBlockNs[b] / 1e3 / m_nLogLinesPerBlock);
        std::printf("last block / first block: %.2f\n",
                    static_cast<double>(m_logBlockNs.back()) / static_cast<double>(m_logBlockNs.front()));
    }
}
