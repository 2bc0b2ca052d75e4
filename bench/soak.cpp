// soak: zephran-server and a crowd of users on 127.0.0.1, for minutes.
// Well-behaved users sign on and off and chat; hostile ones send garbage,
// oversize and empty datagrams, sign off and back, and connect to the
// sign-on port only to vanish half-way. Every line a well-behaved user sends
// must reach every well-behaved member, once and undamaged, and the server's
// memory must not grow once the room is steady.
//
// Meanwhile a member and a stranger flood the server with datagrams of every
// kind, far faster than a member may send.
//
//   soak [--seconds N] [--users N] [--seed N] [--server PATH] [--flood-rate N] [--per-user]
//
// Defaults: 180 seconds, 200 users (a tenth of them hostile), floods of
// 10,000 datagrams a second each, the zephran-server of this build. Exits
// non-zero if a line was lost, duplicated or damaged; if a sign-on or
// sign-off of a well-behaved user failed, or an abandoned or refused sign-on
// was neither logged nor counted in the log's summaries; if the flooding
// member had more lines relayed than its rate allows, or was never told; if
// the lines that peers caused outgrew the log's budget; if a member missed
// the shutdown notice; if the server's memory grew beyond the bound printed;
// or if the server did not end cleanly (under the sanitizers a report, a
// leak included, ends it with a failure status).

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SoakCrowd.h"
#include "SoakFlood.h"
#include "SoakServer.h"
#include "SoakUser.h"
#include "TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kWindow = 64;  // lines in flight: the load side never overruns a buffer
constexpr double kLeaveWait = 5;       // seconds a sign-off may take to be confirmed
constexpr double kStallWait = 3;       // seconds without a line before the owed ones count as lost
// The server's memory may grow this much from the steady room to the end:
// allocator slack, not a leak, which would grow with every line. Under
// AddressSanitizer its own bookkeeping (the stacks of allocations) grows too,
// by some 400 KiB a minute under this load, so more is allowed there.
constexpr long kGrowthBoundKiB = 2048;
constexpr long kSanitizerGrowthKiBPerMinute = 512;
// What the server's log budget lets peers cause: a burst, then a rate, and
// the summaries of what it held back (about a dozen lines a second).
constexpr double kLogBurstBytes = 64 * 1024, kLogBytesPerSecond = 10 * 1024 + 1024;

struct COptions {
    int seconds = 180;
    int users = 200;
    unsigned seed = 1;
    std::string server = ZEPHRAN_SERVER_PATH;
    int floodRate = 10000;
    bool perUser = false;
};

COptions ParseOptions(int argc, char** argv)
{
    COptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue)
            options.seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--users" && hasValue)
            options.users = std::clamp(std::atoi(argv[++i]), 10, 999);
        else if (arg == "--seed" && hasValue)
            options.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--server" && hasValue)
            options.server = argv[++i];
        else if (arg == "--flood-rate" && hasValue)
            options.floodRate = std::clamp(std::atoi(argv[++i]), 1, 1000000);
        else if (arg == "--per-user")
            options.perUser = true;
        else {
            std::fprintf(stderr, "usage: soak [--seconds N] [--users N] [--seed N] [--server PATH] [--flood-rate N] "
                                 "[--per-user]\n");
            std::exit(2);
        }
    }
    return options;
}

class CSoak {
public:
    explicit CSoak(const COptions& options) : m_options(options), m_random(options.seed), m_server(options.server) {}

    int Run();

private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    void Pump(int timeoutMs);
    void Step();
    void SendLines();
    std::uint64_t LowWater() const;
    void Report(long rssStart, long rssEnd, long rssPeak, int serverStatus);

    COptions m_options;
    std::mt19937 m_random;
    Clock::time_point m_start = Clock::now();
    CSoakServer m_server;
    std::vector<std::unique_ptr<CSoakUser>> m_users;
    std::vector<CSoakLine> m_lines;
    std::vector<pollfd> m_fds;
    double m_lastArrival = 0;
    double m_nextLeave = 0;
    std::uint64_t m_signOnFailures = 0;
    std::uint64_t m_unconfirmedLeaves = 0;
    std::uint64_t m_stalls = 0;
    std::uint64_t m_leaves = 0;
    std::unique_ptr<CSoakCrowd> m_pCrowd;
    std::unique_ptr<CSoakFlood> m_pFlood;
    double m_seconds = 0;  // from the start of the crowd to the shutdown
    std::vector<long> m_rssSamples;  // the server's VmRSS, once a second
    long m_growthBound = kGrowthBoundKiB;
    std::uint64_t m_inAtShutdown = 0;  // well-behaved members when the server shut down
};

void CSoak::Pump(int timeoutMs)
{
    m_fds.clear();
    for (const auto& pUser : m_users)
        if (pUser->Fd() >= 0)
            m_fds.push_back({pUser->Fd(), POLLIN, 0});
    if (::poll(m_fds.data(), m_fds.size(), timeoutMs) <= 0)
        return;
    m_lastArrival = Now();
    for (const auto& pUser : m_users)
        if (pUser->Fd() >= 0)
            pUser->Drain(m_lines);
}

// The oldest line that some member is still owed.
std::uint64_t CSoak::LowWater() const
{
    std::uint64_t low = m_lines.size();
    for (const auto& pUser : m_users)
        if (pUser->State() == CSoakUser::EState::In)
            low = std::min(low, pUser->LowWater());
    return low;
}

void CSoak::SendLines()
{
    std::vector<CSoakUser*> in;
    for (const auto& pUser : m_users)
        if (pUser->State() == CSoakUser::EState::In)
            in.push_back(pUser.get());
    while (!in.empty() && m_lines.size() - LowWater() < kWindow) {
        CSoakUser& sender = *in[m_random() % in.size()];
        // Any bytes but the zero that ends a text and the line break that
        // would split the server's log line.
        std::string payload(1 + m_random() % 200, ' ');
        for (char& c : payload)
            do
                c = static_cast<char>(m_random());
            while (c == '\0' || c == '\n');
        const auto senderIndex = static_cast<std::uint16_t>(std::stoi(sender.Name().substr(1)));
        m_lines.push_back({senderIndex, static_cast<std::uint16_t>(payload.size()), LineHash(payload)});
        sender.SendLine(m_lines.size() - 1, payload);
    }
}

void CSoak::Step()
{
    Pump(1);
    const double now = Now();
    for (const auto& pUser : m_users) {
        CSoakUser& user = *pUser;
        if (user.State() == CSoakUser::EState::Leaving && now - user.m_leaveStarted > kLeaveWait) {
            ++m_unconfirmedLeaves;
            user.EndLeave();
        }
        if (user.State() != CSoakUser::EState::Out)
            continue;
        if (user.m_rejoinAt == 0) {
            user.m_rejoinAt = now + 0.2 + (m_random() % 1800) / 1000.0;  // just left
        } else if (now >= user.m_rejoinAt && user.SignOn(m_lines.size())) {
            ++m_signOnFailures;
            user.m_rejoinAt = now + 1;
        }
    }
    // About one user in thirty signs off each second, and back soon after.
    if (now >= m_nextLeave) {
        m_nextLeave = now + 30.0 / static_cast<double>(m_users.size());
        CSoakUser& user = *m_users[m_random() % m_users.size()];
        if (user.State() == CSoakUser::EState::In) {
            user.StartLeave(m_lines.size());
            user.m_leaveStarted = now;
            user.m_rejoinAt = 0;
            ++m_leaves;
        }
    }
    SendLines();
    if (m_lines.size() - LowWater() >= kWindow && now - m_lastArrival > kStallWait) {
        ++m_stalls;
        for (const auto& pUser : m_users)
            if (pUser->State() == CSoakUser::EState::In)
                pUser->Settle(m_lines.size());
    }
}

int CSoak::Run()
{
    const int hostile = m_options.users / 10;
    const int wellBehaved = m_options.users - hostile;
    std::printf("soak: %d users (%d well-behaved, %d hostile), %d s, seed %u, server %s\n", m_options.users,
                wellBehaved, hostile, m_options.seconds, m_options.seed, m_options.server.c_str());
    if (m_server.Start()) {
        std::fprintf(stderr, "soak: the server did not start\n");
        return 1;
    }
    for (int i = 0; i < wellBehaved; ++i) {
        m_users.push_back(std::make_unique<CSoakUser>(i));
        if (m_users.back()->SignOn(0)) {
            std::fprintf(stderr, "soak: user %d could not sign on\n", i);
            return 1;
        }
    }
    const double end = Now() + m_options.seconds;
    // The room is steady once everyone is in and the allocators have warmed.
    const double steady = Now() + std::min(10.0, m_options.seconds / 3.0);
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(end - Now()));
    const double crowdStart = Now();
    m_pCrowd = std::make_unique<CSoakCrowd>(hostile, m_options.seed);
    m_pCrowd->Start(until);
    m_pFlood = std::make_unique<CSoakFlood>(m_options.floodRate, m_options.seed);
    m_pFlood->Start(until);

    long rssStart = -1;
    long rssPeak = 0;
    double nextSample = 0;
    m_lastArrival = Now();
    while (Now() < end && m_server.Running()) {
        Step();
        if (Now() >= nextSample) {
            nextSample = Now() + 1;
            const long rss = m_server.RssKiB();
            rssPeak = std::max(rssPeak, rss);
            m_rssSamples.push_back(rss);
            if (rssStart < 0 && Now() >= steady)
                rssStart = rss;
        }
    }
    m_pCrowd->Join();
    m_pFlood->Join();

    // Let every owed line and every sign-off arrive.
    const double drainEnd = Now() + 10;
    auto settled = [&] {
        for (const auto& pUser : m_users)
            if (pUser->State() == CSoakUser::EState::Leaving ||
                (pUser->State() == CSoakUser::EState::In && pUser->LowWater() < m_lines.size()))
                return false;
        return true;
    };
    while (!settled() && Now() < drainEnd && m_server.Running())
        Pump(10);
    const long rssEnd = m_server.RssKiB();
    rssPeak = std::max(rssPeak, rssEnd);
    if (m_server.Sanitized())
        m_growthBound += static_cast<long>(kSanitizerGrowthKiBPerMinute * (end - steady) / 60);

    for (const auto& pUser : m_users)
        m_inAtShutdown += pUser->State() == CSoakUser::EState::In;
    const int status = m_server.Stop(10000);
    m_seconds = Now() - crowdStart;
    const double shutdownEnd = Now() + 1;
    while (Now() < shutdownEnd)
        Pump(10);
    for (const auto& pUser : m_users) {
        if (pUser->State() == CSoakUser::EState::Leaving)
            pUser->EndLeave();
        else if (pUser->State() == CSoakUser::EState::In)
            pUser->Settle(m_lines.size());
    }
    Report(rssStart, rssEnd, rssPeak, status);

    std::uint64_t lost = 0, damaged = 0, duplicates = 0, odd = 0, shutdowns = 0;
    for (const auto& pUser : m_users) {
        lost += pUser->m_lost;
        damaged += pUser->m_damaged;
        duplicates += pUser->m_duplicates;
        odd += pUser->m_odd;
        shutdowns += pUser->m_shutdowns;
    }
    const bool memoryGrew = rssStart < 0 || rssEnd - rssStart > m_growthBound;
    // Every sign-on given up half-way or refused must have been noticed as
    // such by the server, in a line of its own or in a summary of what the
    // log held back, and no hostile sign-on may break the server's side.
    const CCrowdCounts& crowd = m_pCrowd->m_counts;
    const CServerLogCounts& log = m_server.m_log;
    const bool intakeWrong = crowd.failed || log.abandoned > crowd.vanished || log.refused > crowd.refused ||
                             log.abandoned + log.refused + log.heldBack < crowd.vanished + crowd.refused;
    // The flooding member was cut to its rate and told; what peers made the
    // server log stayed within the log's budget.
    const CFloodCounts& flood = m_pFlood->m_counts;
    const bool floodThrough = !flood.bSignedOn || flood.notices == 0 ||
                              static_cast<double>(flood.memberRelayed) > m_pFlood->Allowed();
    const bool logOverBudget = static_cast<double>(log.peerBytes) > kLogBurstBytes + kLogBytesPerSecond * m_seconds;
    const bool failed = lost || damaged || duplicates || odd || m_signOnFailures || m_unconfirmedLeaves ||
                        intakeWrong || floodThrough || logOverBudget || shutdowns != m_inAtShutdown || memoryGrew ||
                        status != 0;
    std::printf("result: %s\n", failed ? "FAILED" : "ok");
    return failed ? 1 : 0;
}

void CSoak::Report(long rssStart, long rssEnd, long rssPeak, int serverStatus)
{
    std::uint64_t signOns = 0, received = 0, lost = 0, damaged = 0, duplicates = 0, early = 0, foreign = 0,
                  oversize = 0, odd = 0, shutdowns = 0;
    std::vector<std::uint64_t> perUser;
    for (const auto& pUser : m_users) {
        const CSoakUser& user = *pUser;
        signOns += user.m_signOns;
        received += user.m_received;
        lost += user.m_lost;
        damaged += user.m_damaged;
        duplicates += user.m_duplicates;
        early += user.m_early;
        foreign += user.m_foreign;
        oversize += user.m_oversize;
        odd += user.m_odd;
        shutdowns += user.m_shutdowns;
        perUser.push_back(user.m_received);
    }
    std::sort(perUser.begin(), perUser.end());
    const CCrowdCounts& crowd = m_pCrowd->m_counts;
    const CServerLogCounts& log = m_server.m_log;
    auto row = [](const char* pWhat, const std::string& value) { std::printf("  %-34s %s\n", pWhat, value.c_str()); };
    auto num = [](std::uint64_t n) { return std::to_string(n); };

    row("users", std::to_string(m_options.users) + " (" + num(m_users.size()) + " well-behaved)");
    row("sign-ons completed", num(signOns + crowd.signOns) + " (well-behaved " + num(signOns) + ", hostile " +
                                  num(crowd.signOns) + ")");
    row("sign-ons abandoned half-way", num(crowd.vanished) + " (server logged " + num(log.abandoned) + ")");
    row("sign-ons refused (wrong version)", num(crowd.refused) + " (server logged " + num(log.refused) + ")");
    row("lines the log held back", num(log.heldBack) + " (in summaries)");
    row("sign-ons failed", num(m_signOnFailures + crowd.failed));
    row("sign-offs (well-behaved)", num(m_leaves) + ", unconfirmed " + num(m_unconfirmedLeaves));
    row("lines sent (well-behaved)", num(m_lines.size()));
    row("lines received (owed, all users)", num(received));
    row("lines received per user", "min " + num(perUser.front()) + ", median " + num(perUser[perUser.size() / 2]) +
                                       ", max " + num(perUser.back()));
    row("lines lost", num(lost));
    row("lines damaged / duplicated", num(damaged) + " / " + num(duplicates));
    row("lines before sign-on (not owed)", num(early));
    row("window stalls", num(m_stalls));
    row("hostile lines delivered", num(foreign) + " (too long for a client: " + num(oversize) + ")");
    row("hostile datagrams sent",
        "garbage " + num(crowd.garbage) + ", oversize " + num(crowd.oversize) + ", empty " + num(crowd.empty) +
            ", pings " + num(crowd.pings) + ", chat " + num(crowd.chats) + ", strangers " + num(crowd.strangers) +
            ", sign-offs " + num(crowd.leaves));
    row("server log", "relayed " + num(log.relayed) + ", receive errors " + num(log.receiveErrors) +
                          ", unknown senders " + num(log.strangers) + ", unknown types " + num(log.unknownTypes) +
                          ", HDR_NEW refused " + num(log.illegalNew) + ", send errors " + num(log.sendErrors) +
                          ", log lines dropped " + num(log.dropped));
    const CFloodCounts& flood = m_pFlood->m_counts;
    row("flooding member", "sent " + num(flood.memberSent) + ", lines relayed " + num(flood.memberRelayed) +
                               " (its rate allows " + num(static_cast<std::uint64_t>(m_pFlood->Allowed())) +
                               "), told " + num(flood.notices) + " times" + (flood.bSignedOn ? "" : ", NOT SIGNED ON"));
    row("flooding stranger", "sent " + num(flood.strangerSent));
    row("log of peers' doings (B/s)", num(static_cast<std::uint64_t>(static_cast<double>(log.peerBytes) / m_seconds)) +
                                          " (budget " + num(static_cast<std::uint64_t>(kLogBytesPerSecond)) +
                                          " and a burst of " + num(static_cast<std::uint64_t>(kLogBurstBytes)) + ")");
    row("shutdown notices", num(shutdowns) + " to " + num(m_inAtShutdown) + " well-behaved members");
    row("server memory VmRSS (KiB)", "start " + std::to_string(rssStart) + ", end " + std::to_string(rssEnd) +
                                         ", growth " + std::to_string(rssEnd - rssStart) + " (bound " +
                                         std::to_string(m_growthBound) + "), peak " + std::to_string(rssPeak));
    std::string timeline;
    for (std::size_t i = 0; i < m_rssSamples.size(); i += std::max<std::size_t>(1, m_rssSamples.size() / 10))
        timeline += std::to_string(m_rssSamples[i]) + " ";
    row("server memory over the run (KiB)", timeline);
    row("server exit status", std::to_string(serverStatus));
    row("unexpected datagrams", num(odd));
    if (m_options.perUser)
        for (const auto& pUser : m_users)
            std::printf("  %s: sign-ons %llu, received %llu, lost %llu, damaged %llu, duplicated %llu\n",
                        pUser->Name().c_str(), static_cast<unsigned long long>(pUser->m_signOns),
                        static_cast<unsigned long long>(pUser->m_received),
                        static_cast<unsigned long long>(pUser->m_lost),
                        static_cast<unsigned long long>(pUser->m_damaged),
                        static_cast<unsigned long long>(pUser->m_duplicates));
}

}  // namespace

int main(int argc, char** argv)
{
    const COptions options = ParseOptions(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    // The fixed ports are shared with the tests of everyone on this machine.
    CPortLock lock;
    CSoak soak(options);
    return soak.Run();
}
