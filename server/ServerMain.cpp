// zephran-server: the server core with its log on standard output, until
// SIGINT, SIGTERM or SIGHUP shuts it down. Under systemd it says when it is
// ready (both ports bound) and when it stops.

#include <arpa/inet.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ChatServer.h"
#include "ConsoleView.h"
#include "PollLoop.h"
#include "Protocol.h"
#include "SocketLayer.h"
#include "StopSignal.h"

namespace {

// How long the readers of the log get at exit to take what is still queued.
constexpr auto kExitFlush = std::chrono::seconds(2);

constexpr const char* kUsage =
    "Usage: zephran-server [--listen ADDRESS] [--flood-limit BURST/RATE | --flood-limit off]\n"
    "       zephran-server --help | --version\n"
    "The ZEPHRAN chat server without windows. Users sign on at TCP port 2050\n"
    "and their lines are relayed through UDP port 2051. The log goes to\n"
    "standard output, message texts to standard error. SIGINT, SIGTERM and\n"
    "SIGHUP shut the server down, telling every user.\n"
    "\n"
    "  --listen ADDRESS          both ports on this IPv4 address of the machine\n"
    "                            only (default: every interface, 0.0.0.0)\n"
    "  --flood-limit BURST/RATE  a member may send BURST datagrams at once and\n"
    "                            then RATE a second; the rest are dropped and\n"
    "                            the member is told (default 100/50)\n"
    "  --flood-limit off         no limit\n"
    "  --help                    this text\n"
    "  --version                 the program's version\n";

// What the command line asks for.
struct COptions {
    bool bHelp = false;
    bool bVersion = false;
    in_addr listen{htonl(INADDR_ANY)};
    CServerLimits limits;
};

// A positive whole number of at most a million, or 0 if text is not one.
double Count(std::string_view text)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    const double n = std::strtod(std::string(text).c_str(), nullptr);
    return n <= 1e6 ? n : 0;
}

// "off", or BURST/RATE. False if value is neither.
bool ReadFloodLimit(std::string_view value, CFloodGuard::CLimits& limits)
{
    if (value == "off") {
        limits.bOn = false;
        return true;
    }
    const std::size_t slash = value.find('/');
    if (slash == std::string_view::npos)
        return false;
    limits.burst = Count(value.substr(0, slash));
    limits.perSecond = Count(value.substr(slash + 1));
    return limits.burst > 0 && limits.perSecond > 0;
}

// Reads the arguments into options. The argument that is not understood, or
// null if all were. --help and --version stand alone.
const char* ReadArguments(int argc, char** argv, COptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" && argc == 2)
            options.bHelp = true;
        else if (arg == "--version" && argc == 2)
            options.bVersion = true;
        else if (arg == "--listen") {
            // Dotted decimal, four parts, as inet_pton reads it.
            if (i + 1 == argc || ::inet_pton(AF_INET, argv[++i], &options.listen) != 1)
                return argv[i];
        } else if (arg != "--flood-limit" || i + 1 == argc || !ReadFloodLimit(argv[++i], options.limits.flood))
            return argv[i];
    }
    return nullptr;
}

// The line that says the server is up, on which address and ports.
std::string UpLine(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return "Server up on " + std::string(text) + ": TCP port " + std::to_string(SIGNON_PORT) +
           " for sign-ons, UDP port " + std::to_string(BROADCAST_PORT) + " for the chat";
}

// Runs the server until a stop signal, or until the loop itself fails
// (poll refuses to wait): then the users are told as at any shutdown, and
// the exit status says that it failed.
int Serve(CEventLoop& loop, CConsoleView& view, const COptions& options)
{
    CStopSignal stop;
    if (SocketLayerStartup() || stop.Open()) {
        view.ShowMessage("Server init failure");
        return 1;
    }
    CChatServer server;
    server.SetLimits(options.limits);
    server.SetListenAddress(options.listen);
    if (server.Start(&view)) {
        view.ShowMessage("Server init failure");
        return 1;
    }
    view.AppendLog(UpLine(options.listen), ELogLevel::Notice);
    // Without a service manager (no NOTIFY_SOCKET) this does nothing.
    sd_notify(0, "READY=1");
    int status = 0;
    while (!stop.Requested() && status == 0)
        if (loop.RunOnce(-1) < 0) {
            const std::string why = std::strerror(errno);
            view.ShowMessage("Server loop failure: " + why);
            status = 1;
        }
    sd_notify(0, "STOPPING=1");
    server.Shutdown();
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    COptions options;
    if (const char* pUnknown = ReadArguments(argc, argv, options)) {
        std::fprintf(stderr, "zephran-server: argument not understood: %s\n%s", pUnknown, kUsage);
        return 2;
    }
    if (options.bHelp || options.bVersion) {
        std::fputs(options.bHelp ? kUsage : "zephran-server " ZEPHRAN_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    CPollLoop loop;
    CConsoleView view;
    const int status = Serve(loop, view, options);
    view.Finish(kExitFlush);
    return status;
}
