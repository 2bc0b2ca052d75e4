#include "NetShim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>

#include "Protocol.h"

extern "C" {
int __real_bind(int fd, const sockaddr* addr, socklen_t len);
int __real_connect(int fd, const sockaddr* addr, socklen_t len);
int __real_accept4(int fd, sockaddr* addr, socklen_t* len, int flags);
ssize_t __real_recv(int fd, void* buf, size_t len, int flags);
}

namespace {

std::map<std::pair<int, std::uint16_t>, std::uint16_t> g_standIns;  // (type, fixed) -> stand-in
std::deque<std::size_t> g_pieces;      // what is left of each piece, first piece first
bool g_bCutPending = false;            // the pieces wait for the next stream
bool g_bEndAfterPieces = false;        // the stream ends with its last piece
int g_cutFd = -1;                      // the stream that receives in pieces
std::string g_repeat;                  // received over and over after the pieces
std::size_t g_repeatPos = 0;           // where the next receive of them starts
std::size_t g_cutReceived = 0;         // bytes the stream in pieces has received
std::function<void(int)> g_connectHook;

bool IsFixedPort(std::uint16_t port) { return port == SIGNON_PORT || port == BROADCAST_PORT; }

int SocketType(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len);
    return type;
}

// The IPv4 address in addr, if it is one of that size.
bool ReadInet(const sockaddr* addr, socklen_t len, sockaddr_in& out)
{
    if (addr == nullptr || len < static_cast<socklen_t>(sizeof out) || addr->sa_family != AF_INET)
        return false;
    std::memcpy(&out, addr, sizeof out);
    return true;
}

void TakeCut(int fd)
{
    if (!g_bCutPending)
        return;
    g_bCutPending = false;
    g_cutFd = fd;
}

}  // namespace

std::uint16_t StandInPort(int type, std::uint16_t fixedPort)
{
    const auto it = g_standIns.find({type, fixedPort});
    return it == g_standIns.end() ? 0 : it->second;
}

void SetStandInPort(int type, std::uint16_t fixedPort, std::uint16_t port) { g_standIns[{type, fixedPort}] = port; }

void CutNextStream(const std::vector<std::size_t>& pieces, bool ended)
{
    g_bEndAfterPieces = ended;
    g_pieces.clear();
    for (std::size_t size : pieces)
        if (size > 0)
            g_pieces.push_back(size);
    g_bCutPending = true;
    g_cutFd = -1;
    g_cutReceived = 0;
}

void RepeatAfterPieces(std::string bytes)
{
    g_repeat = std::move(bytes);
    g_repeatPos = 0;
}

std::size_t CutStreamReceived() { return g_cutReceived; }

void SetConnectHook(std::function<void(int fd)> hook) { g_connectHook = std::move(hook); }

void ResetNetShim()
{
    g_pieces.clear();
    g_bCutPending = false;
    g_cutFd = -1;
    g_repeat.clear();
    g_repeatPos = 0;
    g_connectHook = nullptr;
}

extern "C" int __wrap_bind(int fd, const sockaddr* addr, socklen_t len)
{
    sockaddr_in local;
    if (!ReadInet(addr, len, local) || !IsFixedPort(ntohs(local.sin_port)))
        return __real_bind(fd, addr, len);
    const std::uint16_t fixedPort = ntohs(local.sin_port);
    const int type = SocketType(fd);
    // The port that stood in last time first: picking a fresh port costs
    // the kernel a search of every bound port, on every run.
    local.sin_port = htons(StandInPort(type, fixedPort));
    if (local.sin_port == 0 || __real_bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        local.sin_port = 0;
        if (__real_bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
            return -1;
    }
    socklen_t boundLen = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &boundLen);
    SetStandInPort(type, fixedPort, ntohs(local.sin_port));
    return 0;
}

extern "C" int __wrap_connect(int fd, const sockaddr* addr, socklen_t len)
{
    sockaddr_in peer;
    if (!ReadInet(addr, len, peer) || !IsFixedPort(ntohs(peer.sin_port)))
        return __real_connect(fd, addr, len);
    const int type = SocketType(fd);
    const std::uint16_t fixedPort = ntohs(peer.sin_port);
    const std::uint16_t standIn = StandInPort(type, fixedPort);
    if (standIn == 0) {
        errno = ECONNREFUSED;  // never reach a real server on a fixed port
        return -1;
    }
    peer.sin_port = htons(standIn);
    const int rc = __real_connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    const int saved = errno;
    if (type == SOCK_STREAM && fixedPort == SIGNON_PORT) {
        TakeCut(fd);
        if (g_connectHook)
            g_connectHook(fd);
    }
    errno = saved;
    return rc;
}

extern "C" int __wrap_accept4(int fd, sockaddr* addr, socklen_t* len, int flags)
{
    const int conn = __real_accept4(fd, addr, len, flags);
    if (conn >= 0)
        TakeCut(conn);
    return conn;
}

extern "C" ssize_t __wrap_recv(int fd, void* buf, size_t len, int flags)
{
    if (fd == g_cutFd && g_pieces.empty() && !g_repeat.empty() && len > 0) {
        const std::size_t n = std::min(len, g_repeat.size() - g_repeatPos);
        std::memcpy(buf, g_repeat.data() + g_repeatPos, n);
        if (!(flags & MSG_PEEK)) {
            g_repeatPos = (g_repeatPos + n) % g_repeat.size();
            g_cutReceived += n;
        }
        return static_cast<ssize_t>(n);
    }
    if (fd == g_cutFd && g_pieces.empty() && g_bEndAfterPieces)
        return 0;
    if (fd != g_cutFd || g_pieces.empty() || len == 0)
        return __real_recv(fd, buf, len, flags);
    const ssize_t n = __real_recv(fd, buf, std::min(len, g_pieces.front()), flags);
    if (n > 0 && !(flags & MSG_PEEK)) {
        g_cutReceived += static_cast<std::size_t>(n);
        g_pieces.front() -= static_cast<std::size_t>(n);
        if (g_pieces.front() == 0)
            g_pieces.pop_front();
    }
    return n;
}
