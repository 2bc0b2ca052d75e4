#include "ChatClient.h"

#include <arpa/inet.h>

#include <cstdint>

#include "ClientView.h"
#include "Protocol.h"
#include "Socket.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

// The datagram socket's receive buffer: room for a burst of relayed lines.
constexpr int kBurstReceiveBuffer = 4 << 20;

const char kLostText[] = "Error in sign-on -- The connection to the server was lost.";
const char kSilentText[] = "Error in sign-on -- The server stopped answering.";
const char kBadRoomText[] = "Error in sign-on -- The server sent a damaged room list.";

std::string DottedAddress(const sockaddr_in& addr)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

CChatClient::~CChatClient() { m_roster.RemoveAll(); }

void CChatClient::Init(IClientView* pWnd)
{
    m_pWnd = pWnd;
    m_udpSocket.Init(pWnd, this);
}

bool CChatClient::Logon(sockaddr_in serverAddr, const std::string& name)
{
    // A second sign-on over a live one would add a second room list to the
    // copy and remake the open datagram socket; leave everything as it is.
    // The window has put "?" in the users' count; it shows the room again.
    if (m_bConnected) {
        m_pWnd->AppendLog("Already connected!");
        m_pWnd->UpdateUserList(m_roster);
        return false;
    }
    serverAddr.sin_family = AF_INET;
    serverAddr.sin_port = htons(SIGNON_PORT);
    // The server relays this user's own lines as "<name> line", like any
    // other; a member of the same name cannot be told apart.
    m_ownLinePrefix = "<" + name + "> ";

    CSocket stream;
    if (stream.Create())
        return EndSignOn("Error in socket creation");
    m_pWnd->AppendLog("Connecting to server at: " + DottedAddress(serverAddr));
    if (stream.Connect(serverAddr)) {
        m_pWnd->ShowMessage("Error in socket connect -- Possibly the server is down or not at this address.");
        return true;
    }
    // A server that stops answering must not hold this thread for ever.
    const auto deadline = CSocket::Clock::now() + m_signOnLimit;
    stream.SetDeadline(deadline);
    m_pWnd->AppendLog("Connected.  Checking Version");

    if (SignOnSend(stream, EncodeHello(name)))
        return LostSignOn(stream, deadline);
    m_pWnd->UpdateTraffic();
    m_pWnd->AppendLog("Checking version");

    unsigned char verdict = 0;
    if (SignOnReceive(stream, &verdict, 1))
        return LostSignOn(stream, deadline);
    if (verdict != PROTOCOL_VERSION) {
        stream.Close();
        return EndSignOn("Version " + std::to_string(PROTOCOL_VERSION) + " is not same as server's version " +
                         std::to_string(verdict) + ".  Terminating...");
    }
    m_pWnd->AppendLog("Version " + std::to_string(PROTOCOL_VERSION) + " verified.");
    m_pWnd->UpdateTraffic();
    m_pWnd->ClearUserList();
    m_pWnd->AppendLog("Receiving Room Information...");

    // The room arrives newest first; adding each entry at the head leaves
    // the copy oldest first.
    char int32[4];
    if (SignOnReceive(stream, int32, 4))
        return LostSignOn(stream, deadline);
    const std::int32_t count = DecodeInt32(int32);
    if (count > MAX_ROOM_COUNT)
        return AbandonSignOn(stream, kBadRoomText);
    for (std::int32_t k = 0; k < count; ++k) {
        if (SignOnReceive(stream, int32, 4))
            return LostSignOn(stream, deadline);
        const std::int32_t length = DecodeInt32(int32);
        if (length < 1 || length > MAX_ROOM_ENTRY)
            return AbandonSignOn(stream, kBadRoomText);
        char entry[MAX_ROOM_ENTRY];
        char ping[4];
        if (SignOnReceive(stream, entry, length) || SignOnReceive(stream, ping, 4))
            return LostSignOn(stream, deadline);
        auto pUser = std::make_unique<CUserInfo>();
        pUser->m_name = TextUpToZero(std::string_view(entry, static_cast<std::size_t>(length)));
        pUser->m_ping = DecodeInt32(ping);
        AddToRoom(std::move(pUser));
        m_pWnd->UpdateTraffic();
    }
    m_pWnd->UpdateUserList(m_roster);

    // The server times two echoes of its probe; each byte goes back as it came.
    m_pWnd->AppendLog("Responding to server's ping");
    for (int round = 0; round < 2; ++round) {
        char echo = 0;
        if (SignOnReceive(stream, &echo, 1) || SignOnSend(stream, std::string(1, echo)))
            return LostSignOn(stream, deadline);
    }
    if (SignOnReceive(stream, int32, 4))
        return LostSignOn(stream, deadline);
    m_pWnd->AppendLog("\r\nServer reports a " + std::to_string(DecodeInt32(int32)) + " ms ping time");
    m_pWnd->UpdateTraffic();

    m_pWnd->AppendLog("Moving to UDP broadcast port");
    if (m_udpSocket.Create(0, SOCK_DGRAM, CAsyncSocket::FD_READ))
        return AbandonSignOn(stream, "Error in socket creation");
    // The server relays every member's lines as fast as it can, and this
    // thread may be busy meanwhile (drawing the window, a sign-on, a burst
    // of lines from several users). With the system's default of about
    // 200 KiB only a few hundred small datagrams wait here, and the rest
    // would be dropped unseen; 4 MiB, which the system doubles, holds
    // thousands. If the system refuses, the default still serves.
    static_cast<void>(m_udpSocket.SetReceiveBuffer(kBurstReceiveBuffer));
    // Connected to the server's datagram port, the socket hears no one else.
    sockaddr_in udpPeer = serverAddr;
    udpPeer.sin_port = htons(BROADCAST_PORT);
    if (m_udpSocket.Connect(udpPeer))
        return AbandonSignOn(stream, "Error in socket connect");

    m_pWnd->AppendLog("Sending contact information");
    sockaddr_in local{};
    if (m_udpSocket.GetSockName(local))
        return AbandonSignOn(stream, "Error in socket creation");
    if (SignOnSend(stream, EncodePortNotice(local.sin_port)))
        return LostSignOn(stream, deadline);
    m_pWnd->UpdateTraffic();

    // Nothing follows the port notice; the server closes its end once read.
    stream.Close();
    m_bConnected = true;
    return false;
}

bool CChatClient::SignOnSend(CSocket& stream, const std::string& bytes)
{
    const int sent = stream.Send(bytes.data(), static_cast<int>(bytes.size()));
    if (sent < 0)
        return true;
    g_bytesWritten += sent;
    return false;
}

bool CChatClient::SignOnReceive(CSocket& stream, void* pBuf, int len)
{
    int got = 0;
    const bool failed = stream.ReceiveFull(pBuf, len, &got);
    g_bytesRead += got;
    return failed;
}

bool CChatClient::LostSignOn(CSocket& stream, std::chrono::steady_clock::time_point deadline)
{
    return AbandonSignOn(stream, CSocket::Clock::now() >= deadline ? kSilentText : kLostText);
}

bool CChatClient::EndSignOn(const std::string& reason)
{
    m_pWnd->AppendLog(reason);
    m_pWnd->ShowMessage(reason);
    return true;
}

bool CChatClient::AbandonSignOn(CSocket& stream, const char* pReason)
{
    // Close first: the server is held in its own sign-on until this end
    // goes, and the message box below waits for the user.
    stream.Close();
    m_udpSocket.Close();
    EmptyRoom();
    m_pWnd->ClearUserList();
    m_pWnd->UpdateTraffic();
    // The window ends right after a failed sign-on, so only a message box is
    // sure to be read.
    m_pWnd->ShowMessage(pReason);
    return true;
}

void CChatClient::Disconnect()
{
    if (!m_bConnected) {
        m_pWnd->AppendLog("Already disconnected!");
        return;
    }
    // A lost sign-off leaves nothing to do but close: the server never
    // answers it.
    static_cast<void>(SendText(FormatBare(HDR_LEAVE)));
    m_udpSocket.Close();
    m_bConnected = false;
    EmptyRoom();
    m_pWnd->ClearUserList();
}

void CChatClient::SendChat(const std::string& line)
{
    if (!m_bConnected) {
        m_pWnd->AppendLog("You are not connected to the server!");
        return;
    }
    // A line that did not go is not shown: only the server's relay shows one.
    static_cast<void>(SendText(FormatChat(line)));
}

bool CChatClient::SendText(const std::string& packet)
{
    // c_str() carries the terminating zero that every datagram ends with.
    const int sent = m_udpSocket.Send(packet.c_str(), static_cast<int>(packet.size() + 1));
    if (sent < 0)
        return true;
    g_bytesWritten += sent;
    m_pWnd->UpdateTraffic();
    return false;
}

void CChatClient::OnChatLine(const std::string& text)
{
    m_pWnd->AppendLog(text);
    if (!text.starts_with(m_ownLinePrefix))
        m_pWnd->OnRoomLine();
}

void CChatClient::OnUserJoined(const std::string& text)
{
    CNewUserText scanned = ScanNewText(text);
    auto pUser = std::make_unique<CUserInfo>();
    pUser->m_ping = scanned.ping;
    pUser->m_name = std::move(scanned.name);
    AddToRoom(std::move(pUser));
    m_pWnd->UpdateUserList(m_roster);
}

void CChatClient::OnUserLeft(const std::string& name)
{
    // Every entry of that name goes: the copy cannot tell two users of one
    // name apart.
    const std::int32_t count = m_roster.m_nCount;
    m_roster.BeginWalk();
    for (std::int32_t k = 0; k < count; ++k) {
        if (m_roster.Current()->m_name == name) {
            m_nRoomNameBytes -= name.size();
            m_roster.RemoveCurrent();
        }
        else
            m_roster.Advance();
    }
    m_pWnd->UpdateUserList(m_roster);
}

void CChatClient::AddToRoom(std::unique_ptr<CUserInfo> pUser)
{
    if (m_roster.m_nCount >= MAX_ROOM_COUNT || m_nRoomNameBytes + pUser->m_name.size() > MAX_ROOM_NAME_BYTES)
        return;
    m_nRoomNameBytes += pUser->m_name.size();
    m_roster.AddHead(pUser.release());
}

void CChatClient::EmptyRoom()
{
    m_roster.RemoveAll();
    m_roster.BeginWalk();
    m_nRoomNameBytes = 0;
}

void CChatClient::OnServerTerminated()
{
    m_udpSocket.Close();
    m_bConnected = false;
    m_pWnd->AppendLog("The server was terminated.");
    m_pWnd->AppendLog("Disconnected.");
    EmptyRoom();
    m_pWnd->ClearUserList();
    m_pWnd->OnRoomLine();
}

// A lost answer costs nothing: this server never waits for one.
void CChatClient::OnPing() { static_cast<void>(SendText(FormatBare(HDR_PING))); }
