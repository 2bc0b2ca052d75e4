// relay_bench: how close the server comes to what loopback can carry. The
// load (the members) runs in a child process; this process measures the
// limit, then serves as the headless core and as the server window, and
// prints one table. Then it is one client, the headless client core and the
// client window, in a room of the load's members, the room's server being
// zephran-server in a child process. Last, a server program in a child
// process is attacked through its ports: hostile sign-ons and floods.
// Loopback only (any 127.x.y.z: run it in a network namespace of its own),
// bounded in time and count.

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "AttackBench.h"
#include "BenchClock.h"
#include "ClientBench.h"
#include "ClientTarget.h"
#include "FloodBench.h"
#include "LoadSide.h"
#include "ProcessTarget.h"
#include "RelayBench.h"
#include "ServerProcess.h"
#include "ServerTarget.h"
#include "SilentRelay.h"
#include "SocketLayer.h"
#include "TestSupport.h"

#ifdef ZEPHRAN_BENCH_WINDOW
#include <QApplication>

#include "ClientWindowTarget.h"
#include "QtEventLoop.h"
#include "WindowTarget.h"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: relay_bench [--no-headless] [--no-window] [--no-log] [--no-server] [--no-client]\n"
    "                   [--silent-only | --attacks-only | --no-attacks] [--server PATH]\n"
    "  --no-headless, --no-window  leave out the headless core's, or the server window's, rows\n"
    "  --no-log       leave out the server window's log rows\n"
    "  --no-server    leave out every server row; --no-client: every client row\n"
    "  --silent-only  only the rows of relaying while silent connections come and go\n"
    "  --attacks-only only the rows of hostile sign-ons, classroom, stop and floods\n"
    "  --no-attacks   leave those rows out\n"
    "  --server PATH  measure the zephran-server program at PATH, as a child process through its\n"
    "                 ports, in place of the headless core and the window (flood control off for\n"
    "                 the relay rows where it has the option); the attack rows run against it\n"
    "                 too (by default against this build's zephran-server)\n";

constexpr int kMembers = 1000;
constexpr int kLogBlocks = 10, kLogBlockLines = 100'000;

bool HasFlag(int argc, char** argv, const char* pFlag)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], pFlag) == 0)
            return true;
    return false;
}

// The value after a flag, or null.
const char* FlagValue(int argc, char** argv, const char* pFlag)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], pFlag) == 0)
            return argv[i + 1];
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (HasFlag(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (RaiseDescriptorLimit(kMembers + 200))
        std::fprintf(stderr, "relay_bench: too few file descriptors for %d members\n", kMembers);
    // The load process is made before anything else exists: no Qt, no threads.
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0 || SocketLayerStartup())
        return 1;
    const pid_t load = ::fork();
    if (load == 0) {
        ::close(pair[0]);
        CLoadSide side(pair[1]);
        ::_exit(side.Run());
    }
    ::close(pair[1]);
    const bool silentOnly = HasFlag(argc, argv, "--silent-only");
    const bool attacksOnly = HasFlag(argc, argv, "--attacks-only");
    const char* pProgram = FlagValue(argc, argv, "--server");
    const bool bServer = !HasFlag(argc, argv, "--no-server") && !attacksOnly;
    const bool bClient = !silentOnly && !attacksOnly && !HasFlag(argc, argv, "--no-client");
    const bool bAttacks = !silentOnly && !HasFlag(argc, argv, "--no-attacks");
    CServerProcess room;  // the client rows' server: zephran-server, its log thrown away

    int rc = 0;
    {
        CLoadLink link(pair[0]);
        CRelayBench run(link);
        CSilentRelay silent;
        CClientBench clients(link, room);
        CAttackBench attacks(pProgram ? pProgram : ZEPHRAN_SERVER_PATH);
        CFloodBench floods(pProgram ? pProgram : ZEPHRAN_SERVER_PATH);
        if (run.Open(kMembers)) {
            std::fprintf(stderr, "relay_bench: the load process could not open %d sockets\n", kMembers);
            rc = 1;
        }
        if (rc == 0 && bServer && pProgram != nullptr) {
            CPortLock ports;
            CProcessTarget process(pProgram);
            rc = (!silentOnly && run.MeasureTarget(process)) || silent.Measure(process) ? 1 : 0;
        }
        if (rc == 0 && bServer && pProgram == nullptr && !HasFlag(argc, argv, "--no-headless")) {
            CPortLock ports;  // other programs' tests use 2050/2051 too
            CHeadlessTarget headless;
            rc = (!silentOnly && run.MeasureTarget(headless)) || silent.Measure(headless) ? 1 : 0;
        }
        if (rc == 0 && bClient) {
            CPortLock ports;
            CHeadlessClient core;
            rc = clients.MeasureTarget(core) ? 1 : 0;
        }
#ifdef ZEPHRAN_BENCH_WINDOW
        if (rc == 0 && pProgram == nullptr && !attacksOnly && !HasFlag(argc, argv, "--no-window")) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            CQtEventLoop loop;
            if (bServer) {
                CPortLock ports;
                CWindowTarget window;
                rc = (!silentOnly && run.MeasureTarget(window)) || silent.Measure(window) ? 1 : 0;
            }
            if (rc == 0 && bClient) {
                CPortLock ports;
                CClientWindowTarget window;
                rc = clients.MeasureTarget(window) ? 1 : 0;
            }
            if (bServer && !silentOnly && !HasFlag(argc, argv, "--no-log"))
                run.AddLogBlocks(CWindowTarget::TimeLogBlocks(kLogBlocks, kLogBlockLines), kLogBlockLines);
        }
#endif
        if (rc == 0 && bAttacks) {
            CPortLock ports;
            rc = attacks.Measure() || floods.Measure() ? 1 : 0;
            if (rc != 0)
                std::fprintf(stderr, "relay_bench: the server program did not start (ports 2050/2051 taken?)\n");
        }
        CLoadCommand quit;
        quit.op = ELoadOp::Quit;
        link.Put(quit);
        ::waitpid(load, nullptr, 0);
        if (bServer && !silentOnly)
            run.Print();
        if (bServer)
            silent.Print();
        if (bClient)
            clients.Print();
        if (bAttacks) {
            attacks.Print();
            floods.Print();
        }
    }
    return rc;
}
