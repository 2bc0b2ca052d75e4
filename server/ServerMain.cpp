// zephran-server: the server core with its log on standard output, until
// SIGINT, SIGTERM or SIGHUP shuts it down.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ChatServer.h"
#include "ConsoleView.h"
#include "PollLoop.h"
#include "SocketLayer.h"
#include "StopSignal.h"

namespace {

// How long the readers of the log get at exit to take what is still queued.
constexpr auto kExitFlush = std::chrono::seconds(2);

constexpr const char* kUsage =
    "Usage: zephran-server [--help | --version]\n"
    "The ZEPHRAN chat server without windows. Users sign on at TCP port 2050\n"
    "and their lines are relayed through UDP port 2051. The log goes to\n"
    "standard output, message texts to standard error. SIGINT, SIGTERM and\n"
    "SIGHUP shut the server down, telling every user.\n";

// The answer to arguments, of which the server takes none but these two.
// Returns the exit status.
int AnswerArguments(int argc, char** argv)
{
    const std::string_view arg = argv[1];
    if (argc == 2 && arg == "--help") {
        std::fputs(kUsage, stdout);
    } else if (argc == 2 && arg == "--version") {
        std::fputs("zephran-server " ZEPHRAN_VERSION "\n", stdout);
    } else {
        // The first argument that is not understood: a second one is never.
        const bool bKnown = arg == "--help" || arg == "--version";
        std::fprintf(stderr, "zephran-server: unknown argument %s\n%s", bKnown ? argv[2] : argv[1], kUsage);
        return 2;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Runs the server until a stop signal, or until the loop itself fails
// (poll refuses to wait): then the users are told as at any shutdown, and
// the exit status says that it failed.
int Serve(CEventLoop& loop, CConsoleView& view)
{
    CStopSignal stop;
    if (SocketLayerStartup() || stop.Open()) {
        view.ShowMessage("Server init failure");
        return 1;
    }
    CChatServer server;
    if (server.Start(&view)) {
        view.ShowMessage("Server init failure");
        return 1;
    }
    int status = 0;
    while (!stop.Requested() && status == 0)
        if (loop.RunOnce(-1) < 0) {
            const std::string why = std::strerror(errno);
            view.ShowMessage("Server loop failure: " + why);
            status = 1;
        }
    server.Shutdown();
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return AnswerArguments(argc, argv);
    CPollLoop loop;
    CConsoleView view;
    const int status = Serve(loop, view);
    view.Finish(kExitFlush);
    return status;
}
