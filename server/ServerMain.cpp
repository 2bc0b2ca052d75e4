// zephran-server: the server core with its log on standard output, until
// SIGINT or SIGTERM shuts it down.

#include "ChatServer.h"
#include "ConsoleView.h"
#include "PollLoop.h"
#include "SocketLayer.h"
#include "StopSignal.h"

int main()
{
    CConsoleView view;
    CPollLoop loop;
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
