#include "SignOn.h"

#include <arpa/inet.h>

#include <cerrno>
#include <string_view>

#include "ChatServer.h"
#include "Protocol.h"
#include "SignOnGate.h"
#include "SocketLayer.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

// The millisecond clock of the ping: elapsed real time, never set back.
std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

std::shared_ptr<const std::string> Bytes(std::string bytes)
{
    return std::make_shared<const std::string>(std::move(bytes));
}

}  // namespace

CSignOn::CSignOn(CEventLoop& loop, CChatServer& server, IServerView& wnd, CSignOnGate& gate)
    : m_loop(loop), m_server(server), m_wnd(wnd), m_gate(gate)
{
}

CSignOn::~CSignOn()
{
    if (m_nWatching != 0)
        m_loop.Unwatch(m_conn.Handle());
    m_loop.KillTimer(this);
    if (m_bFollowing)
        m_server.UnfollowRoom(&m_missed);
}

void CSignOn::Start(const sockaddr_in& peer, const CLimits& limits)
{
    m_peer = peer;
    m_peerText = ::inet_ntoa(peer.sin_addr);
    m_limits = limits;
    Log("New Connection Accepted from: " + m_peerText, ELogLevel::Info);
    Log("Receiving Client Information...", ELogLevel::Info);
    // Each answer is all the client waits for before it speaks again, and
    // each goes in one write: held back for more, it would only wait for the
    // client's delayed acknowledgement (and be lost if the connection then
    // ends in a reset). Without the option it still goes, later.
    static_cast<void>(m_conn.SetNoDelay());
    m_loop.SetTimer(this, CEventLoop::Clock::now() + m_limits.hello);
    Run();
}

void CSignOn::OnTimer() { static_cast<void>(GiveUp("no answer in time")); }

void CSignOn::Run()
{
    for (;;) {
        EProgress progress;
        if (!m_out.empty())
            progress = Flush();
        else if (m_step == EStep::Hello)
            progress = ReadHello();
        else if (m_step == EStep::FirstEcho || m_step == EStep::SecondEcho)
            progress = ReadEcho();
        else
            progress = ReadPortNotice();
        if (progress == EProgress::Blocked)
            progress = Wait();
        if (progress != EProgress::Done)
            return;
    }
}

CSignOn::EProgress CSignOn::ReadHello()
{
    char buf[HELLO_RECEIVE_SIZE];
    const int room = HELLO_RECEIVE_SIZE - static_cast<int>(m_hello.size());
    const int got = m_conn.ReceiveThrough(buf, room, '\0');
    if (got < 0 && WouldBlock())
        return EProgress::Blocked;
    if (got <= 0)
        return GiveUp("connection lost");
    g_bytesRead += got;
    m_hello.append(buf, static_cast<std::size_t>(got));
    // A wrong version is refused at once, without waiting for the rest; a
    // hello with no zero byte in the 511 bytes it may have is over too.
    const bool bWhole = m_hello.back() == '\0' || m_hello.size() == static_cast<std::size_t>(HELLO_RECEIVE_SIZE) ||
                        m_hello[0] != static_cast<char>(PROTOCOL_VERSION);
    return bWhole ? CheckHello() : EProgress::Done;
}

CSignOn::EProgress CSignOn::CheckHello()
{
    Log("Checking version", ELogLevel::Info);
    m_loop.SetTimer(this, CEventLoop::Clock::now() + m_limits.exchange);
    const auto version = static_cast<unsigned char>(m_hello[0]);
    if (version != PROTOCOL_VERSION)
        return Refuse(version);
    // No zero byte: what follows is more name, not the ping echoes and the
    // port notice. Nothing more is read, and no verdict goes back: a refusing
    // verdict would tell the client its version is wrong, which it is not; a
    // closed connection tells it only that the sign-on failed.
    if (m_hello.back() != '\0') {
        Log("Sign-on from " + m_peerText + " refused: name longer than " + std::to_string(HELLO_RECEIVE_SIZE - 2) +
                " bytes",
            ELogLevel::Warning);
        m_wnd.UpdateTraffic();
        return End();
    }
    m_pUser = std::make_unique<CUserInfo>();
    m_pUser->m_addr = m_peer;
    m_pUser->m_name = HelloName(m_hello);
    m_hello.clear();
    // From the moment its room list is taken, the newcomer must hear of every
    // change of the room (see CMissedChanges).
    m_bFollowing = true;
    Queue(Bytes(std::string(1, static_cast<char>(PROTOCOL_VERSION))));
    Queue(m_server.ListRoomFor(&m_missed));
    Queue(Bytes(std::string(1, static_cast<char>(PING_PROBE))));
    m_step = EStep::Room;
    return EProgress::Done;
}

CSignOn::EProgress CSignOn::Refuse(unsigned char version)
{
    // One byte into an empty send buffer: it goes at once, or never will.
    const char verdict = static_cast<char>(VERDICT_REFUSED);
    const std::string_view part(&verdict, 1);
    if (m_conn.SendParts({&part, 1}) == 1)
        g_bytesWritten += 1;
    Log("  Version " + std::to_string(PROTOCOL_VERSION) + " Failed...  Got Version " + std::to_string(version),
        ELogLevel::Warning);
    return End();
}

CSignOn::EProgress CSignOn::ReadEcho()
{
    // The client echoes the probe, the server echoes that byte back as it
    // came, and the ping is the time until the client's second echo arrives.
    const int got = m_conn.Receive(&m_echo, 1);
    if (got < 0 && WouldBlock())
        return EProgress::Blocked;
    if (got <= 0)
        return GiveUp("connection lost");
    g_bytesRead += 1;
    if (m_step == EStep::FirstEcho) {
        Queue(Bytes(std::string(1, m_echo)));
        m_step = EStep::Echo;
        return EProgress::Done;
    }
    // The deadline bounds the wait, so the difference fits a ping.
    m_pUser->m_ping = static_cast<std::int32_t>(NowMs() - m_pingStart);
    Queue(Bytes(EncodeInt32(m_pUser->m_ping)));
    m_step = EStep::Result;
    return EProgress::Done;
}

CSignOn::EProgress CSignOn::ReadPortNotice()
{
    const int got = m_conn.Receive(m_port + m_nPortGot, static_cast<int>(sizeof m_port) - m_nPortGot);
    if (got < 0 && WouldBlock())
        return EProgress::Blocked;
    if (got <= 0)
        return GiveUp("connection lost");
    g_bytesRead += got;
    m_nPortGot += got;
    if (m_nPortGot < static_cast<int>(sizeof m_port))
        return EProgress::Done;
    m_wnd.UpdateTraffic();
    // The user's datagrams come from the address the connection came from
    // and the port the client announced.
    m_pUser->m_addr.sin_port = DecodePortNotice(m_port);
    return Join();
}

CSignOn::EProgress CSignOn::Join()
{
    // A port of 0 cannot be sent to: the member would miss every line, and
    // every broadcast would log a failure for it.
    if (m_pUser->m_addr.sin_port == 0)
        return GiveUp("it named port 0");
    // A client on this machine that names the server's own datagram port
    // would make the server a member of its own room: every broadcast would
    // come back to it as that member's chat and go out again, longer, to
    // everyone, some hundred and sixty times for each line. When the address
    // cannot be told from this machine's own, it is taken to be one.
    if (m_pUser->m_addr.sin_port == htons(BROADCAST_PORT) && MayBeLocalAddress(m_pUser->m_addr.sin_addr))
        return GiveUp("it named the server's own port");
    m_loop.Unwatch(m_conn.Handle());
    m_nWatching = 0;
    m_conn.Close();
    m_bFollowing = false;  // AddUser takes m_missed off the room
    m_server.AddUser(m_pUser.release(), &m_missed);
    return End();
}

void CSignOn::Queue(std::shared_ptr<const std::string> pBytes) { m_out.push_back(std::move(pBytes)); }

CSignOn::EProgress CSignOn::Flush()
{
    std::string_view parts[3];
    std::size_t count = 0;
    for (; count < m_out.size() && count < std::size(parts); ++count)
        parts[count] = *m_out[count];
    parts[0].remove_prefix(m_nOutSent);
    const int sent = m_conn.SendParts({parts, count});
    if (sent < 0 && WouldBlock())
        return EProgress::Blocked;
    if (sent < 0)
        return GiveUp("connection lost");
    Count(sent);
    // Off the queue: the parts that went whole, and what went of the next.
    std::size_t left = static_cast<std::size_t>(sent) + m_nOutSent;
    while (!m_out.empty() && left >= m_out.front()->size()) {
        left -= m_out.front()->size();
        m_out.erase(m_out.begin());
    }
    m_nOutSent = left;
    return m_out.empty() ? Sent() : EProgress::Done;
}

void CSignOn::Count(int sent)
{
    // The log and the counters tell the stages in the order the bytes went:
    // the verdict, then the welcome, then the rest of the room.
    if (m_step == EStep::Room && !m_bVerdictOut && sent > 0) {
        m_bVerdictOut = true;
        g_bytesWritten += 1;
        --sent;
        Log("  Version " + std::to_string(PROTOCOL_VERSION) + " Passed...", ELogLevel::Info);
        m_wnd.UpdateTraffic();
        Log("Welcome " + m_pUser->m_name, ELogLevel::Info);
        Log("Sending client room information", ELogLevel::Info);
    }
    if (sent > 0) {
        g_bytesWritten += sent;
        m_wnd.UpdateTraffic();
    }
}

CSignOn::EProgress CSignOn::Sent()
{
    switch (m_step) {
    case EStep::Room:
        m_step = EStep::FirstEcho;
        break;
    case EStep::Echo:
        m_pingStart = NowMs();
        m_step = EStep::SecondEcho;
        break;
    case EStep::Result:
        Log("client got ping time of " + std::to_string(m_pUser->m_ping) + " ms", ELogLevel::Info);
        m_wnd.UpdateTraffic();
        Log("Moving client to UDP port", ELogLevel::Info);
        m_step = EStep::PortNotice;
        break;
    default:
        break;
    }
    return EProgress::Done;
}

CSignOn::EProgress CSignOn::Wait()
{
    // Only what the step needs: a level-triggered loop would otherwise report
    // bytes the client sent ahead, again and again, while a send waits.
    const unsigned events = m_out.empty() ? CEventLoop::WATCH_READ : CEventLoop::WATCH_WRITE;
    if (events == m_nWatching)
        return EProgress::Blocked;
    if (m_loop.Watch(m_conn.Handle(), this, events)) {
        const int error = errno;
        Log("Sign-on from " + m_peerText + " abandoned: the server could not watch its connection: Error: " +
                std::to_string(error),
            ELogLevel::Error);
        m_wnd.UpdateTraffic();
        return End();
    }
    m_nWatching = events;
    return EProgress::Blocked;
}

CSignOn::EProgress CSignOn::GiveUp(const std::string& reason)
{
    Log("Sign-on from " + m_peerText + " abandoned: " + reason, ELogLevel::Warning);
    m_wnd.UpdateTraffic();
    return End();
}

CSignOn::EProgress CSignOn::End()
{
    m_gate.OnSignOnEnded(this);  // deletes this
    return EProgress::Over;
}

// Every line of a sign-on is one its peer caused, within the peer's budget.
void CSignOn::Log(const std::string& text, ELogLevel level)
{
    m_server.PeerLog().Write(m_peer.sin_addr.s_addr, text, level);
}
