#include "SilentRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "BenchClock.h"
#include "LoadLink.h"
#include "Loopback.h"
#include "PacedMember.h"
#include "Protocol.h"
#include "ServerTarget.h"

namespace {

constexpr int kSilentCounts[] = {1, 6};
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kLineGapNs = 20 * kMs;       // 50 lines a second
// Long enough for the silent connections to be dropped and reopened twice
// (the server gives a connection 10 s for its hello).
constexpr std::int64_t kRowNs = 25'000 * kMs;
constexpr std::int64_t kDrainNs = 15'000 * kMs;     // for lines still owed once the silent ones go
constexpr char kName[] = "member";

// A connection to the sign-on port that says nothing. Made without waiting:
// a server that is busy leaves it in its backlog, or the system retries.
int OpenSilent()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(SIGNON_PORT);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the member saw in one row.
struct CMemberRun {
    CLineStats lines;
    int dropped = 0;
    bool signOnFailed = false;
};

// The member's side of one row, on its own thread: sign on, start the silent
// connections, send a line every kLineGapNs for kRowNs while reading the
// relays and reopening every silent connection the server closes; then let
// the silent ones go and wait for the lines still owed.
void RunMember(int silentCount, CMemberRun& run)
{
    CPacedMember member(kName, kLineGapNs);
    if (member.SignOn()) {
        run.signOnFailed = true;
        return;
    }

    std::vector<int> silent;
    for (int i = 0; i < silentCount; ++i)
        silent.push_back(OpenSilent());
    const std::int64_t start = NowNs();
    while (NowNs() < start + kRowNs) {
        const std::int64_t untilNextNs = member.Step();
        std::vector<pollfd> fds{{member.Fd(), POLLIN, 0}};
        for (int fd : silent)
            fds.push_back({fd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), static_cast<int>(untilNextNs / kMs + 1));
        // A silent connection the server has closed comes back at once.
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char byte;
            const ssize_t n = ::recv(fds[i].fd, &byte, 1, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
                continue;
            ::close(fds[i].fd);
            silent[i - 1] = OpenSilent();
            ++run.dropped;
        }
    }
    for (int fd : silent)
        ::close(fd);
    member.Drain(kDrainNs);
    run.lines = member.Stats();
}

}  // namespace

bool CSilentRelay::Measure(CServerTarget& target)
{
    for (int silentCount : kSilentCounts) {
        bool broken = false;
        const bool failed = target.Serve([&] {
            int pair[2];
            if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
                broken = true;
                return;
            }
            CLoadLink link(pair[0]);
            CMemberRun run;
            std::thread member([&run, silentCount, done = pair[1]] {
                RunMember(silentCount, run);
                CLoadLink(done).Put(CLoadReport{});
            });
            // The target serves until the member says it is done.
            CLoadReport report;
            broken = target.Await(link, report);
            member.join();

            CRow row;
            row.target = target.Name();
            row.silent = silentCount;
            row.lines = run.lines.lines;
            row.lost = run.lines.lost;
            row.late = run.lines.late;
            row.worstNs = run.lines.worstNs;
            row.dropped = run.dropped;
            row.signOnFailed = run.signOnFailed;
            m_rows.push_back(row);
        });
        if (failed || broken) {
            std::fprintf(stderr, "relay_bench: %s %s\n", target.Name(),
                         failed ? "did not start (ports 2050/2051 taken?)" : "lost its silent-connection member");
            return true;
        }
    }
    return false;
}

void CSilentRelay::Print() const
{
    std::printf("\nRelay while silent connections come and go: one member sends a line every %lld ms for %lld s;\n"
                "each silent connection to the sign-on port is reopened as soon as the server drops it\n",
                static_cast<long long>(kLineGapNs / kMs), static_cast<long long>(kRowNs / 1'000'000'000));
    std::printf("%-14s %6s %6s %6s %10s %12s %9s\n", "target", "silent", "lines", "lost", "worst ms", "over 100 ms",
                "dropped");
    for (const CRow& r : m_rows) {
        if (r.signOnFailed) {
            std::printf("%-14s %6d  the member's sign-on failed\n", r.target.c_str(), r.silent);
            continue;
        }
        std::printf("%-14s %6d %6d %6d %10.1f %11.1f%% %9d\n", r.target.c_str(), r.silent, r.lines, r.lost,
                    r.worstNs / 1e6, r.lines > 0 ? 100.0 * r.late / r.lines : 0.0, r.dropped);
    }
}
