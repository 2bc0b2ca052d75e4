#include "ListenSocket.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ChatServer.h"
#include "Protocol.h"
#include "ServerView.h"
#include "Socket.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

// Whether the address is one of this machine's own: only those can be bound.
bool IsLocalAddress(in_addr address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in probe{};
    probe.sin_family = AF_INET;
    probe.sin_addr = address;
    const bool local = ::bind(fd, reinterpret_cast<const sockaddr*>(&probe), sizeof probe) == 0;
    ::close(fd);
    return local;
}

// The millisecond clock of the ping: elapsed real time, never set back.
std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void CListenSocket::Init(IServerView* pWnd, CChatServer* pServer)
{
    m_pWnd = pWnd;
    m_pServer = pServer;
}

void CListenSocket::OnAccept(int /*nErrorCode*/)
{
    CSocket conn;
    sockaddr_in peer{};
    if (Accept(conn, &peer))
        return;
    const auto deadline = std::chrono::steady_clock::now() + m_signOnLimit;
    conn.SetDeadline(deadline);

    const std::string peerText = ::inet_ntoa(peer.sin_addr);
    m_pWnd->AppendLog("New Connection Accepted from: " + peerText);
    auto pUser = std::make_unique<CUserInfo>();
    pUser->m_addr = peer;

    m_pWnd->AppendLog("Receiving Client Information...");
    std::string hello;
    if (ReceiveHello(conn, hello)) {
        Abandon(peerText, deadline);
        return;
    }
    m_pWnd->AppendLog("Checking version");
    const auto version = static_cast<unsigned char>(hello[0]);
    if (version != PROTOCOL_VERSION) {
        Refuse(conn, version);
        return;
    }

    pUser->m_name = HelloName(hello);
    if (SendRoom(conn, *pUser) || MeasurePing(conn, *pUser) || ReceivePortNotice(conn, *pUser)) {
        Abandon(peerText, deadline);
        return;
    }
    // A client on this machine that names the server's own datagram port
    // would make the server a member of its own room: every broadcast would
    // come back to it as that member's chat and go out again, longer, to
    // everyone, some hundred and sixty times for each line.
    if (pUser->m_addr.sin_port == htons(BROADCAST_PORT) && IsLocalAddress(pUser->m_addr.sin_addr)) {
        m_pWnd->AppendLog("Sign-on from " + peerText + " abandoned: it named the server's own port");
        return;
    }
    conn.Close();
    m_pServer->AddUser(pUser.release());
}

bool CListenSocket::ReceiveHello(CSocket& conn, std::string& hello)
{
    // Look before taking: only the bytes up to the hello's zero byte are
    // received, so nothing that follows it is swallowed, and a name is only
    // ever made of bytes that did arrive.
    char buf[HELLO_RECEIVE_SIZE];
    int got = 0;
    bool failed = false;
    bool complete = false;
    while (!complete && !failed) {
        const int seen = conn.Peek(buf + got, HELLO_RECEIVE_SIZE - got);
        if (seen <= 0) {
            failed = true;
            break;
        }
        const void* pZero = std::memchr(buf + got, '\0', static_cast<std::size_t>(seen));
        const int want = pZero ? static_cast<int>(static_cast<const char*>(pZero) - (buf + got)) + 1 : seen;
        int taken = 0;
        failed = conn.ReceiveFull(buf + got, want, &taken);
        got += taken;
        g_bytesRead += taken;
        // A wrong version is refused at once, without waiting for the rest.
        complete = pZero != nullptr || got == HELLO_RECEIVE_SIZE ||
                   (got > 0 && buf[0] != static_cast<char>(PROTOCOL_VERSION));
    }
    hello.assign(buf, static_cast<std::size_t>(got));
    return failed;
}

void CListenSocket::Refuse(CSocket& conn, unsigned char version)
{
    const char verdict = static_cast<char>(VERDICT_REFUSED);
    if (conn.Send(&verdict, 1) == 1)
        g_bytesWritten += 1;
    m_pWnd->AppendLog("  Version " + std::to_string(PROTOCOL_VERSION) + " Failed...  Got Version " +
                      std::to_string(version));
}

bool CListenSocket::SendRoom(CSocket& conn, const CUserInfo& user)
{
    // Verdict, room count, room entries and ping probe leave as one write:
    // the bytes on the wire are the same as four kinds of small writes, but a
    // run of small writes followed by a read would meet Nagle's algorithm and
    // the peer's delayed acknowledgement, stalling every sign-on.
    CUserList* pRoster = m_pServer->GetUserList();
    const std::int32_t count = pRoster->m_nCount;
    std::string out(1, static_cast<char>(PROTOCOL_VERSION));
    out += EncodeInt32(count);
    std::vector<std::size_t> entrySizes;
    pRoster->BeginWalk();
    for (std::int32_t i = 0; i < count; ++i) {
        const CUserInfo* pEntry = pRoster->Current();
        const std::string entry = EncodeRoomEntry(pEntry->m_name, pEntry->m_ping);
        entrySizes.push_back(entry.size());
        out += entry;
        pRoster->Advance();
    }
    out.push_back(static_cast<char>(PING_PROBE));
    if (conn.Send(out.data(), static_cast<int>(out.size())) < 0)
        return true;

    // The log and the counters tell the stages in the order the bytes went.
    g_bytesWritten += 1;
    m_pWnd->AppendLog("  Version " + std::to_string(PROTOCOL_VERSION) + " Passed...");
    m_pWnd->UpdateTraffic();
    m_pWnd->AppendLog("Welcome " + user.m_name);
    m_pWnd->AppendLog("Sending client room information");
    g_bytesWritten += 4;
    for (std::size_t size : entrySizes) {
        g_bytesWritten += static_cast<std::int64_t>(size);
        m_pWnd->UpdateTraffic();
    }
    g_bytesWritten += 1;
    return false;
}

bool CListenSocket::MeasurePing(CSocket& conn, CUserInfo& user)
{
    // The client echoes the probe, the server echoes that byte back as it
    // came, and the ping is the time until the client's second echo arrives.
    char ping = 0;
    if (conn.ReceiveFull(&ping, 1, nullptr))
        return true;
    g_bytesRead += 1;
    if (conn.Send(&ping, 1) < 0)
        return true;
    g_bytesWritten += 1;
    const std::int64_t start = NowMs();
    if (conn.ReceiveFull(&ping, 1, nullptr))
        return true;
    const std::int64_t end = NowMs();
    g_bytesRead += 1;
    // The deadline bounds the wait, so the difference fits a ping.
    user.m_ping = static_cast<std::int32_t>(end - start);

    const std::string result = EncodeInt32(user.m_ping);
    if (conn.Send(result.data(), static_cast<int>(result.size())) < 0)
        return true;
    g_bytesWritten += static_cast<std::int64_t>(result.size());
    m_pWnd->AppendLog("client got ping time of " + std::to_string(user.m_ping) + " ms");
    m_pWnd->UpdateTraffic();
    return false;
}

bool CListenSocket::ReceivePortNotice(CSocket& conn, CUserInfo& user)
{
    m_pWnd->AppendLog("Moving client to UDP port");
    char port[2];
    int got = 0;
    const bool failed = conn.ReceiveFull(port, sizeof port, &got);
    g_bytesRead += got;
    m_pWnd->UpdateTraffic();
    if (failed)
        return true;
    // The user's datagrams come from the address the connection came from
    // and the port the client announced.
    user.m_addr.sin_port = DecodePortNotice(port);
    return false;
}

void CListenSocket::Abandon(const std::string& peerText, std::chrono::steady_clock::time_point deadline)
{
    const bool timedOut = std::chrono::steady_clock::now() >= deadline;
    m_pWnd->AppendLog("Sign-on from " + peerText + " abandoned: " +
                      (timedOut ? "no answer in time" : "connection lost"));
    m_pWnd->UpdateTraffic();
}
