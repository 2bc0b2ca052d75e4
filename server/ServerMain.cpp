// zephran-server: the server core with its log on standard output, until
// SIGINT or SIGTERM shuts it down.

#include <chrono>

#include "ChatServer.h"
#include "ConsoleView.h"
#include "PollLoop.h"
#include "SocketLayer.h"
#include "StopSignal.h"

namespace {

// How long the readers of the log get at exit to take what is still queued.
constexpr auto kExitFlush = std::chrono::seconds(2);

// Runs the server until a stop signal; returns the exit status.
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
    while (!stop.Requested())
        loop.RunOnce(-1);
    server.Shutdown();
    return 0;
}

}  // namespace

int main()
{
    CPollLoop loop;
    CConsoleView view;
    const int status = Serve(loop, view);
    view.Finish(kExitFlush);
    return status;
}
