#include "ClientBench.h"

#include <algorithm>
#include <cstdio>

#include "BenchClock.h"
#include "ClientTarget.h"
#include "ServerProcess.h"

namespace {

constexpr int kRooms[] = {10, 100, 1000};
// The same number of deliveries in every room: five times as many as in a
// relay row, so that the frame a window waits for before it draws its last
// lines weighs little. At most this many lines of the room are queued at the
// server at once, as in the relay rows.
constexpr int kDeliveries = 1'000'000;
constexpr int kLinesInFlight = 160;
constexpr int kSenders = 10;
// No new line for this long: the rest were lost on the way.
constexpr int kQuietMs = 1000;

double Seconds(std::int64_t ns) { return static_cast<double>(ns) / 1e9; }
double Percent(std::int64_t part, std::int64_t whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

}  // namespace

bool CClientBench::MeasureTarget(CClientTarget& target)
{
    for (int n : kRooms)
        if (Row(target, n))
            return true;
    return false;
}

bool CClientBench::Row(CClientTarget& target, int n)
{
    // Members send as fast as the room takes it: no flood limit.
    if (m_room.StartListening(CServerProcess::EOutput::Discard, {"--flood-limit", "off"})) {
        std::fprintf(stderr, "relay_bench: the room's server did not start (ports 2050/2051 taken?)\n");
        return true;
    }
    bool broken = false;
    CRow row;
    const bool failed = target.Serve([&] {
        // The others sign on after the client, so that the load counts its
        // joins as it does without it.
        CLoadCommand signOn;
        signOn.op = ELoadOp::SignOn;
        signOn.nMembers = n - 1;
        CLoadReport signedOn;
        if ((broken = m_link.Put(signOn) || target.Await(m_link, signedOn)))
            return;
        broken = RelayPhase(target, n, row);
    });
    // Its exit status says nothing about the row.
    static_cast<void>(m_room.Stop());
    if (failed || broken) {
        std::fprintf(stderr, "relay_bench: %s %s\n", target.Name(),
                     failed ? "did not sign on" : "lost the load process");
        return true;
    }
    m_rows.push_back(row);
    return false;
}

bool CClientBench::RelayPhase(CClientTarget& target, int n, CRow& row)
{
    CLoadCommand relay;
    relay.op = ELoadOp::Relay;
    relay.nMembers = n - 1;
    relay.nSenders = std::min(kSenders, n - 1);
    relay.nLines = kDeliveries / n / relay.nSenders;
    relay.nWindow = kLinesInFlight / relay.nSenders;
    row.target = target.Name();
    row.n = n;
    row.senders = relay.nSenders;
    row.lines = static_cast<std::int64_t>(relay.nSenders) * relay.nLines;

    target.BeginCount();
    const CMachineCpu machine = MachineCpu();
    const std::int64_t start = NowNs(), cpuStart = CpuNs(), serverStart = ProcessCpuNs(m_room.Pid());
    if (m_link.Put(relay) || target.Await(m_link, row.report))
        return true;
    // The client may still be behind when every other member has every line.
    target.Settle(row.lines, kQuietMs);
    row.clientCpuNs = CpuNs() - cpuStart;
    row.serverCpuNs = ProcessCpuNs(m_room.Pid()) - serverStart;
    row.phaseNs = NowNs() - start;
    const CMachineCpu after = MachineCpu();
    row.otherNs = std::max<std::int64_t>(
        0, after.busyNs - machine.busyNs - row.clientCpuNs - row.serverCpuNs - row.report.cpuNs);
    row.idleNs = after.idleNs - machine.idleNs;
    row.shown = target.Shown();
    row.shownLastNs = target.LastShownNs();
    return false;
}

double CClientBench::CRow::RelayRate() const
{
    const std::int64_t ns = report.lastNs - report.startNs;
    return ns > 0 ? lines / Seconds(ns) : 0.0;
}

double CClientBench::CRow::ShownRate() const
{
    const std::int64_t ns = shownLastNs - report.startNs;
    return ns > 0 ? shown / Seconds(ns) : 0.0;
}

double CClientBench::CRow::OfRelay() const
{
    return RelayRate() > 0 ? ShownRate() / RelayRate() : 0.0;
}

void CClientBench::Print() const
{
    if (m_rows.empty())
        return;
    std::printf("\nClient: one client in a room of N; the N-1 others send as fast as the relay carries their lines.\n"
                "The lines a second the client shows against the relay's (every other member has every line);\n"
                "x core: the window's x relay against the headless client core's in the same room, as each row's\n"
                "relay moves with the machine's other work\n");
    std::printf("%-14s %5s %7s %6s %9s %9s %9s %7s %6s %6s %7s %7s %7s %6s %5s\n", "target", "N", "senders", "lines",
                "ms", "shown/s", "relay/s", "x relay", "x core", "lost", "clt cpu", "srv cpu", "load cpu", "other",
                "idle");
    for (const CRow& r : m_rows) {
        const std::int64_t wall = std::max(r.report.lastNs, r.shownLastNs) - r.report.startNs;
        double core = 0.0;
        for (const CRow& c : m_rows)
            if (c.n == r.n && c.target == "client core")
                core = c.OfRelay();
        std::printf("%-14s %5d %7d %6lld %9.1f %9.0f %9.0f %7.2f %6.2f %6lld %6.0f%% %6.0f%% %6.0f%% %5.0f%% %4.0f%%\n",
                    r.target.c_str(), r.n, r.senders, static_cast<long long>(r.lines), wall / 1e6, r.ShownRate(),
                    r.RelayRate(), r.OfRelay(), core > 0 ? r.OfRelay() / core : 0.0,
                    static_cast<long long>(r.lines - r.shown), Percent(r.clientCpuNs, wall),
                    Percent(r.serverCpuNs, wall), Percent(r.report.cpuNs, wall), Percent(r.otherNs, r.phaseNs),
                    Percent(r.idleNs, r.phaseNs));
    }
}
