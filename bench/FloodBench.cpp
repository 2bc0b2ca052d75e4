#include "FloodBench.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "BenchClock.h"
#include "ServerProcess.h"
#include "SoakFlood.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
// 40 lines a second: an honest member, within the flood limit (50 a second).
constexpr std::int64_t kLineGapNs = 25 * kMs;
constexpr auto kFlood = std::chrono::seconds(8);
constexpr std::int64_t kDrainNs = 5000 * kMs;
constexpr int kFullSpeed = 1'000'000'000;  // datagrams a second: past what the machine sends

}  // namespace

bool CFloodBench::Measure() { return Flood(true) || Flood(false); }

bool CFloodBench::Flood(bool bMember)
{
    CServerProcess server(m_program);
    server.SetPipeBytes(1 << 20);
    if (server.StartListening(CServerProcess::EOutput::Capture))
        return true;
    CRow row;
    row.bMember = bMember;
    CPacedMember member("member", kLineGapNs);
    if ((row.bSignOnFailed = member.SignOn())) {
        m_rows.push_back(row);
        return false;
    }

    // The server's standard output is read as fast as it comes, as a journal would.
    std::atomic<bool> bStop{false};
    std::atomic<std::uint64_t> stdoutBytes{0};
    std::thread reader([&] {
        while (!bStop && server.ReadOutput(20))
            stdoutBytes += server.TakeStdout().size();
    });
    CFloodPlan plan;
    plan.bMember = bMember;
    plan.bStranger = plan.bOversized = !bMember;
    CSoakFlood flood(kFullSpeed, 17, plan);
    const auto start = std::chrono::steady_clock::now();
    flood.Start(start + kFlood);
    while (std::chrono::steady_clock::now() < start + kFlood) {
        const std::int64_t untilNextNs = member.Step();
        pollfd p{member.Fd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(untilNextNs / kMs + 1));
    }
    row.stdoutBytes = stdoutBytes;
    row.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    flood.Join();
    member.Drain(kDrainNs);
    bStop = true;
    reader.join();
    server.Kill();

    row.lines = member.Stats();
    row.floodSent = bMember ? flood.m_counts.memberSent.load() : flood.m_counts.strangerSent.load();
    row.relayed = flood.m_counts.memberRelayed;
    row.notices = flood.m_counts.notices;
    row.allowed = flood.Allowed();
    row.bSignOnFailed = bMember && !flood.m_counts.bSignedOn;
    m_rows.push_back(row);
    return false;
}

void CFloodBench::Print() const
{
    std::printf("\nFloods (server program, through its ports and standard output): datagrams of every kind and\n"
                "never-repeating texts at full speed for %lld s, from a member (127.0.0.2) or from a stranger's\n"
                "16 ports (127.0.0.3), every other one of the stranger's too long to be received whole;\n"
                "an honest member sends a line every %lld ms meanwhile\n",
                static_cast<long long>(kFlood.count()), static_cast<long long>(kLineGapNs / kMs));
    std::printf("%-9s %12s %7s %10s %9s %12s %11s %9s %8s %11s\n", "flooder", "datagrams/s", "lines", "delivered",
                "worst ms", "over 100 ms", "stdout KiB/s", "relayed", "allowed", "told");
    for (const CRow& r : m_rows) {
        if (r.bSignOnFailed) {
            std::printf("%-9s  a sign-on failed\n", r.bMember ? "member" : "stranger");
            continue;
        }
        const int delivered = r.lines.lines - r.lines.lost;
        std::printf("%-9s %12.0f %7d %9.1f%% %9.1f %11.1f%% %12.1f", r.bMember ? "member" : "stranger",
                    r.floodSent / r.seconds, r.lines.lines, r.lines.lines > 0 ? 100.0 * delivered / r.lines.lines : 0.0,
                    r.lines.worstNs / 1e6, r.lines.lines > 0 ? 100.0 * r.lines.late / r.lines.lines : 0.0,
                    r.stdoutBytes / 1024.0 / r.seconds);
        if (r.bMember)
            std::printf(" %9llu %8.0f %11llu\n", static_cast<unsigned long long>(r.relayed), r.allowed,
                        static_cast<unsigned long long>(r.notices));
        else
            std::printf(" %9s %8s %11s\n", "-", "-", "-");
    }
}
