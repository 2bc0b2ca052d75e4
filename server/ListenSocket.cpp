#include "ListenSocket.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Parked sign-ons an address may have at once, and all addresses together;
// a connection beyond either is closed at once. One address can then never
// take every descriptor, and a crowd of them never all of the process's.
constexpr std::size_t kMaxParkedPerAddress = 8;
constexpr std::size_t kMaxParked = 256;
// A refused connection is logged at most once a second for its address.
constexpr auto kRefusalLogGap = std::chrono::seconds(1);
// After a failed accept the listener rests this long before it tries again.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Entries of the per-address tables that may pile up before the stale ones
// are swept out.
constexpr std::size_t kSweepAbove = 1024;

// Whether the address may be one of this machine's own. Only a local
// address can be bound, so a bind that fails for want of the address says
// it is not; when the probe cannot be made at all, it may well be.
bool MayBeLocalAddress(in_addr address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    sockaddr_in probe{};
    probe.sin_family = AF_INET;
    probe.sin_addr = address;
    const bool notLocal = ::bind(fd, reinterpret_cast<const sockaddr*>(&probe), sizeof probe) != 0 &&
                          errno == EADDRNOTAVAIL;
    ::close(fd);
    return !notLocal;
}

// Failures of accept that concern one connection only: it is gone, the next
// one may be fine.
bool PassingAcceptFailure(int error)
{
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

// The millisecond clock of the ping: elapsed real time, never set back.
std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Dotted(in_addr address) { return ::inet_ntoa(address); }

}  // namespace

CListenSocket::~CListenSocket()
{
    if (m_pPauseLoop)
        m_pPauseLoop->KillTimer(&m_resume);
}

void CListenSocket::Init(IServerView* pWnd, CChatServer* pServer)
{
    m_pWnd = pWnd;
    m_pServer = pServer;
}

void CListenSocket::Shutdown()
{
    Close();
    m_parked.clear();
    if (m_pPauseLoop)
        m_pPauseLoop->KillTimer(&m_resume);
    m_pPauseLoop = nullptr;
}

void CListenSocket::OnAccept(int /*nErrorCode*/)
{
    auto pParked = std::make_unique<CParkedSignOn>(this);
    sockaddr_in peer{};
    if (Accept(pParked->Connection(), &peer)) {
        AcceptFailed(errno);
        return;
    }
    m_bAcceptFailing = false;
    const std::string peerText = Dotted(peer.sin_addr);
    if (Turned(peer, peerText))
        return;  // pParked closes the connection

    m_pWnd->AppendLog("New Connection Accepted from: " + peerText, ELogLevel::Info);
    m_pWnd->AppendLog("Receiving Client Information...", ELogLevel::Info);
    if (pParked->Park(CEventLoop::Current(), peer, Clock::now() + m_limits.hello)) {
        Abandon(peerText, "connection lost");
        return;
    }
    m_parked.push_back(std::move(pParked));
}

bool CListenSocket::Turned(const sockaddr_in& peer, const std::string& peerText)
{
    const in_addr_t address = peer.sin_addr.s_addr;
    const auto now = Clock::now();
    if (const auto it = m_penalties.find(address); it != m_penalties.end()) {
        if (now < it->second.until) {
            if (!it->second.bLogged)
                m_pWnd->AppendLog("Sign-ons from " + peerText + " refused for " +
                                  std::to_string(std::chrono::ceil<std::chrono::seconds>(it->second.until - now).count()) +
                                  " s: its last one stopped answering", ELogLevel::Warning);
            it->second.bLogged = true;
            return true;
        }
        m_penalties.erase(it);
    }
    std::size_t fromPeer = 0;
    for (const auto& pParked : m_parked)
        fromPeer += pParked->Peer().sin_addr.s_addr == address ? 1 : 0;
    if (fromPeer >= kMaxParkedPerAddress) {
        LogRefusal(address, "Sign-on from " + peerText + " refused: " + std::to_string(kMaxParkedPerAddress) +
                                " of its connections wait already");
        return true;
    }
    if (m_parked.size() >= kMaxParked) {
        LogRefusal(address, "Sign-on from " + peerText + " refused: " + std::to_string(kMaxParked) +
                                " connections wait already");
        return true;
    }
    return false;
}

void CListenSocket::LogRefusal(in_addr_t address, const std::string& line)
{
    const auto now = Clock::now();
    if (m_lastRefusalLog.size() > kSweepAbove)
        std::erase_if(m_lastRefusalLog, [&](const auto& entry) { return now - entry.second >= kRefusalLogGap; });
    const auto [it, bNew] = m_lastRefusalLog.try_emplace(address, now);
    if (!bNew && now - it->second < kRefusalLogGap)
        return;
    it->second = now;
    m_pWnd->AppendLog(line, ELogLevel::Warning);
}

void CListenSocket::AcceptFailed(int error)
{
    if (PassingAcceptFailure(error))
        return;
    // Out of descriptors or memory: the connection stays queued, so the
    // listener would be ready again at once and the loop would spin. It
    // rests instead, and says so once until an accept succeeds again.
    if (!m_bAcceptFailing)
        m_pWnd->AppendLog("Could not accept a connection: Error: " + std::to_string(error), ELogLevel::Error);
    m_bAcceptFailing = true;
    CEventLoop* pLoop = CEventLoop::Current();
    if (pLoop == nullptr)
        return;
    pLoop->Unwatch(Handle());
    pLoop->SetTimer(&m_resume, Clock::now() + kAcceptPause);
    m_pPauseLoop = pLoop;
}

void CListenSocket::ResumeAccepting()
{
    CEventLoop* pLoop = m_pPauseLoop;
    m_pPauseLoop = nullptr;
    if (IsOpen() && pLoop->Watch(Handle(), &m_resume))
        AcceptFailed(errno);
}

void CListenSocket::OnParkedDone(CParkedSignOn* pParked, CParkedSignOn::EOutcome outcome)
{
    const auto it = std::find_if(m_parked.begin(), m_parked.end(),
                                 [&](const auto& pEntry) { return pEntry.get() == pParked; });
    if (it == m_parked.end())
        return;
    // Out of the list first: whatever runs below sees the room as it is.
    const std::unique_ptr<CParkedSignOn> pDone = std::move(*it);
    m_parked.erase(it);
    pDone->StopWaiting();
    switch (outcome) {
    case CParkedSignOn::EOutcome::HelloIn:
        RunExchange(*pDone);
        break;
    case CParkedSignOn::EOutcome::Lost:
        Abandon(Dotted(pDone->Peer().sin_addr), "connection lost");
        break;
    case CParkedSignOn::EOutcome::TimedOut:
        Abandon(Dotted(pDone->Peer().sin_addr), "no answer in time");
        break;
    }
}

void CListenSocket::RunExchange(CParkedSignOn& parked)
{
    CSocket& conn = parked.Connection();
    const std::string& hello = parked.Hello();
    const sockaddr_in& peer = parked.Peer();
    const std::string peerText = Dotted(peer.sin_addr);
    // From here on the server waits for this peer alone: briefly.
    const auto deadline = Clock::now() + m_limits.exchange;
    conn.SetDeadline(deadline);
    m_pWnd->AppendLog("Checking version", ELogLevel::Info);
    const auto version = static_cast<unsigned char>(hello[0]);
    if (version != PROTOCOL_VERSION) {
        Refuse(conn, version);
        return;
    }
    // No zero byte in the 511 bytes a hello may have: what follows is more
    // name, not the ping echoes and the port notice. Nothing more is read,
    // and no verdict goes back: a refusing verdict would tell the client its
    // version is wrong, which it is not; a closed connection tells it only
    // that the sign-on failed.
    if (hello.back() != '\0') {
        m_pWnd->AppendLog("Sign-on from " + peerText + " refused: name longer than " +
                          std::to_string(HELLO_RECEIVE_SIZE - 2) + " bytes", ELogLevel::Warning);
        m_pWnd->UpdateTraffic();
        return;
    }

    auto pUser = std::make_unique<CUserInfo>();
    pUser->m_addr = peer;
    pUser->m_name = HelloName(hello);
    if (SendRoom(conn, *pUser) || MeasurePing(conn, *pUser) || ReceivePortNotice(conn, *pUser)) {
        const bool timedOut = Clock::now() >= deadline;
        Abandon(peerText, timedOut ? "no answer in time" : "connection lost");
        // It held the whole server: its address waits a while for its next try.
        if (timedOut)
            Penalise(peer.sin_addr.s_addr);
        return;
    }
    // A port of 0 cannot be sent to: the member would miss every line, and
    // every broadcast would log a failure for it.
    if (pUser->m_addr.sin_port == 0) {
        Abandon(peerText, "it named port 0");
        return;
    }
    // A client on this machine that names the server's own datagram port
    // would make the server a member of its own room: every broadcast would
    // come back to it as that member's chat and go out again, longer, to
    // everyone, some hundred and sixty times for each line. When the address
    // cannot be told from this machine's own, it is taken to be one.
    if (pUser->m_addr.sin_port == htons(BROADCAST_PORT) && MayBeLocalAddress(pUser->m_addr.sin_addr)) {
        Abandon(peerText, "it named the server's own port");
        return;
    }
    conn.Close();
    m_pServer->AddUser(pUser.release());
}

void CListenSocket::Penalise(in_addr_t address)
{
    const auto now = Clock::now();
    if (m_penalties.size() > kSweepAbove)
        std::erase_if(m_penalties, [&](const auto& entry) { return entry.second.until <= now; });
    m_penalties[address] = {now + m_limits.penalty, false};
}

void CListenSocket::Refuse(CSocket& conn, unsigned char version)
{
    const char verdict = static_cast<char>(VERDICT_REFUSED);
    if (conn.Send(&verdict, 1) == 1)
        g_bytesWritten += 1;
    m_pWnd->AppendLog("  Version " + std::to_string(PROTOCOL_VERSION) + " Failed...  Got Version " +
                      std::to_string(version), ELogLevel::Warning);
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
    m_pWnd->AppendLog("  Version " + std::to_string(PROTOCOL_VERSION) + " Passed...", ELogLevel::Info);
    m_pWnd->UpdateTraffic();
    m_pWnd->AppendLog("Welcome " + user.m_name, ELogLevel::Info);
    m_pWnd->AppendLog("Sending client room information", ELogLevel::Info);
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
    m_pWnd->AppendLog("client got ping time of " + std::to_string(user.m_ping) + " ms", ELogLevel::Info);
    m_pWnd->UpdateTraffic();
    return false;
}

bool CListenSocket::ReceivePortNotice(CSocket& conn, CUserInfo& user)
{
    m_pWnd->AppendLog("Moving client to UDP port", ELogLevel::Info);
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

void CListenSocket::Abandon(const std::string& peerText, const std::string& reason)
{
    m_pWnd->AppendLog("Sign-on from " + peerText + " abandoned: " + reason, ELogLevel::Warning);
    m_pWnd->UpdateTraffic();
}
