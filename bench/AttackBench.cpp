#include "AttackBench.h"

#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <latch>
#include <thread>

#include "BenchClock.h"
#include "RawSignOn.h"
#include "ServerProcess.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
// 40 lines a second: an honest member, within the flood limit (50 a second).
constexpr std::int64_t kLineGapNs = 25 * kMs;
constexpr std::int64_t kSettleNs = 1000 * kMs;   // the attack fills the caps before honest users come
constexpr std::int64_t kAttackNs = 8000 * kMs;   // the member's lines, from the start of the attack
constexpr std::int64_t kDrainNs = 5000 * kMs;    // lines later than this count as lost
constexpr std::int64_t kHonestGapNs = 600 * kMs;
constexpr int kHonest = 10;                      // half from the attacker's address, half from fresh ones
constexpr std::int64_t kHonestLimitNs = 2000 * kMs;
constexpr int kClassroom = 200;
constexpr auto kClassroomWait = std::chrono::seconds(15);
constexpr auto kStopWait = std::chrono::seconds(30);
constexpr std::uint16_t kUnusedPort = 9;  // honest users' datagram port: what the server sends there is dropped

const CAttackPlan kPlans[] = {
    {EAttack::Silent, 32, 8},       {EAttack::Stalled, 32, 8},      {EAttack::ResetAt1900, 32, 8},
    {EAttack::HellosAtOnce, 32, 8}, {EAttack::Silent, 1, 8},        {EAttack::Stalled, 1, 8},
    {EAttack::ResetAt1900, 1, 8},   {EAttack::HellosAtOnce, 1, 8},  {EAttack::Stalled, 1, 16},
};

// One honest sign-on from an address: whether it completed, and how long it took.
struct CHonest {
    bool bDone = false;
    std::int64_t ns = 0;
};

CHonest SignOnFrom(const std::string& name, const std::string& address)
{
    CSignOnPlan plan{name, htons(kUnusedPort)};
    plan.from = address;
    const std::int64_t start = NowNs();
    const bool bDone = CRawSignOn(plan).Run() == ESignOn::Completed;
    return {bDone, NowNs() - start};
}

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

}  // namespace

bool CAttackBench::Measure()
{
    for (const CAttackPlan& plan : kPlans)
        if (Attack(plan))
            return true;
    return Classroom() || StopWithSignOnsOpen();
}

bool CAttackBench::Attack(const CAttackPlan& plan)
{
    CServerProcess server(m_program);
    if (server.StartListening())
        return true;
    CAttackRow row;
    row.plan = plan;
    CPacedMember member("member", kLineGapNs);
    if ((row.bMemberFailed = member.SignOn())) {
        m_attacks.push_back(row);
        return false;
    }
    CSignOnAttack attack(plan);
    attack.Start();

    // The member chats from the start; honest users come once the caps are
    // full, every kHonestGapNs, from the attacker's address and from fresh ones in turn.
    std::vector<CHonest> honest(kHonest);
    std::vector<std::thread> honestThreads;
    const std::int64_t start = NowNs();
    while (NowNs() < start + kAttackNs) {
        const std::int64_t untilNextNs = member.Step();
        const int due = static_cast<int>(honestThreads.size());
        if (due < kHonest && NowNs() >= start + kSettleNs + due * kHonestGapNs) {
            const std::string address = due % 2 == 0 ? CSignOnAttack::Address(0) : "127.0.2." + std::to_string(due + 1);
            honestThreads.emplace_back([&honest, due, address] {
                honest[static_cast<std::size_t>(due)] = SignOnFrom("honest" + std::to_string(due), address);
            });
        }
        pollfd p{member.Fd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(untilNextNs / kMs + 1, 20)));
    }
    attack.Stop();
    member.Drain(kDrainNs);
    server.Kill();  // honest sign-ons still waiting fail at once
    for (std::thread& t : honestThreads)
        t.join();

    row.lines = member.Stats();
    row.dropped = attack.Dropped() + attack.Resets();
    for (int i = 0; i < kHonest; ++i) {
        const CHonest& h = honest[static_cast<std::size_t>(i)];
        const bool bOk = h.bDone && h.ns <= kHonestLimitNs;
        (i % 2 == 0 ? row.ownTried : row.freshTried) += 1;
        (i % 2 == 0 ? row.ownOk : row.freshOk) += bOk ? 1 : 0;
    }
    m_attacks.push_back(row);
    return false;
}

bool CAttackBench::Classroom()
{
    CServerProcess server(m_program);
    if (server.StartListening())
        return true;
    std::vector<CHonest> results(kClassroom);
    std::atomic<int> finished{0};
    std::latch go(kClassroom + 1);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClassroom; ++i)
        clients.emplace_back([&, i] {
            go.arrive_and_wait();
            results[static_cast<std::size_t>(i)] =
                SignOnFrom("pupil" + std::to_string(i), "127.0.3." + std::to_string(i + 1));
            ++finished;
        });
    go.arrive_and_wait();
    const auto end = std::chrono::steady_clock::now() + kClassroomWait;
    while (finished < kClassroom && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server.Kill();
    for (std::thread& t : clients)
        t.join();

    std::vector<std::int64_t> ns;
    for (const CHonest& r : results)
        if (r.bDone)
            ns.push_back(r.ns);
    std::sort(ns.begin(), ns.end());
    CClassRow row;
    row.clients = kClassroom;
    row.signedOn = static_cast<int>(ns.size());
    if (!ns.empty()) {
        row.medianNs = ns[ns.size() / 2];
        row.p90Ns = ns[ns.size() * 9 / 10];
        row.worstNs = ns.back();
    }
    m_classes.push_back(row);
    return false;
}

bool CAttackBench::StopWithSignOnsOpen()
{
    CServerProcess server(m_program);
    if (server.StartListening())
        return true;
    CSignOnAttack attack({EAttack::Stalled, 32, 8});
    attack.Start();
    std::this_thread::sleep_for(std::chrono::nanoseconds(kSettleNs));
    const std::int64_t start = NowNs();
    server.Signal(SIGTERM);
    const bool bEnded = server.Wait(kStopWait) >= 0;
    m_stopNs.push_back(bEnded ? NowNs() - start : -1);
    attack.Stop();
    return false;
}

void CAttackBench::Print() const
{
    std::printf("\nSign-on attacks (server program, seen through its ports): hostile connections from N addresses\n"
                "127.0.1.x, each reopened at once when dropped; one member sends a line every %lld ms for %lld s;\n"
                "%d honest sign-ons from %.1f s on, in turn from the attacker's first address (own) and from\n"
                "fresh addresses (fresh), counted when done within %lld ms; lines back after %lld s count as lost\n",
                static_cast<long long>(kLineGapNs / kMs), static_cast<long long>(kAttackNs / 1'000'000'000), kHonest,
                Ms(kSettleNs) / 1e3, static_cast<long long>(kHonestLimitNs / kMs),
                static_cast<long long>(kDrainNs / 1'000'000'000));
    std::printf("%-15s %5s %7s %6s %6s %10s %12s %7s %7s %8s\n", "attack", "addrs", "per addr", "lines", "lost",
                "worst ms", "over 100 ms", "own", "fresh", "dropped");
    for (const CAttackRow& r : m_attacks) {
        if (r.bMemberFailed) {
            std::printf("%-15s %5d %7d  the member's sign-on failed\n", CSignOnAttack::Name(r.plan.kind),
                        r.plan.addresses, r.plan.perAddress);
            continue;
        }
        std::printf("%-15s %5d %8d %6d %6d %10.1f %11.1f%% %4d/%-2d %4d/%-2d %8d\n", CSignOnAttack::Name(r.plan.kind),
                    r.plan.addresses, r.plan.perAddress, r.lines.lines, r.lines.lost, Ms(r.lines.worstNs),
                    r.lines.lines > 0 ? 100.0 * r.lines.late / r.lines.lines : 0.0, r.ownOk, r.ownTried, r.freshOk,
                    r.freshTried, r.dropped);
    }
    std::printf("\nClassroom: %d honest clients from %d addresses start their sign-ons at once (wait %lld s)\n",
                kClassroom, kClassroom, static_cast<long long>(kClassroomWait.count()));
    std::printf("%9s %9s %9s %9s %9s\n", "clients", "signed on", "median ms", "p90 ms", "worst ms");
    for (const CClassRow& r : m_classes)
        std::printf("%9d %9d %9.1f %9.1f %9.1f\n", r.clients, r.signedOn, Ms(r.medianNs), Ms(r.p90Ns), Ms(r.worstNs));
    std::printf("\nStop: SIGTERM while 32 x 8 stalled sign-ons are held open (wait %lld s)\n",
                static_cast<long long>(kStopWait.count()));
    for (std::int64_t ns : m_stopNs) {
        if (ns < 0)
            std::printf("time to exit: more than %lld s\n", static_cast<long long>(kStopWait.count()));
        else
            std::printf("time to exit: %.1f ms\n", Ms(ns));
    }
}
