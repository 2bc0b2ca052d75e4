#include "ChatServer.h"

#include <cerrno>
#include <thread>

#include "Protocol.h"
#include "ServerView.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

// How long one datagram may wait for room in a full send buffer before its
// send counts as failed. Short: the server does nothing else meanwhile.
constexpr auto kSendRetryLimit = std::chrono::milliseconds(100);

}  // namespace

CChatServer::~CChatServer() = default;

bool CChatServer::Start(IServerView* pWnd)
{
    m_listenSocket.Init(pWnd, this);
    m_udpSocket.Init(pWnd, this);
    m_pWnd = pWnd;
    if (m_listenSocket.Create(SIGNON_PORT, SOCK_STREAM, CAsyncSocket::FD_READ | CAsyncSocket::FD_ACCEPT)) {
        m_pWnd->ShowMessage("TCP/IP create error");
        return true;
    }
    if (m_udpSocket.Create(BROADCAST_PORT, SOCK_DGRAM, CAsyncSocket::FD_READ)) {
        m_pWnd->ShowMessage("UDP create error");
        return true;
    }
    if (m_listenSocket.Listen(LISTEN_BACKLOG)) {
        m_pWnd->ShowMessage("startup listen error");
        return true;
    }
    return false;
}

void CChatServer::AddUser(CUserInfo* pUser)
{
    m_roster.AddHead(pUser);
    AnnounceJoin(pUser);
    m_pWnd->UpdateUserList(m_roster);
}

bool CChatServer::AnnounceJoin(CUserInfo* pUser)
{
    // The join line goes out even if HDR_NEW missed someone: the members it
    // did reach should not be left without the line that explains it.
    const bool newFailed = SendToAll(FormatNew(pUser->m_ping, pUser->m_name));
    const bool joinFailed = SendToAll(FormatJoinLine(pUser->m_name));
    return newFailed || joinFailed;
}

bool CChatServer::RemoveUser(CUserInfo* pUser)
{
    // The user leaves whatever the leave datagrams did: keeping it would keep
    // a member that asked to go, and every later datagram would try it again.
    const bool leaveFailed = SendToAll(FormatLeave(pUser->m_name));
    const bool lineFailed = SendToAll(FormatLeaveLine(pUser->m_name));

    const std::int32_t count = m_roster.m_nCount;
    m_roster.BeginWalk();
    for (std::int32_t i = 0; i < count; ++i) {
        if (m_roster.Current() == pUser)
            m_roster.RemoveCurrent();
        else
            m_roster.Advance();
    }
    m_pWnd->UpdateUserList(m_roster);
    return leaveFailed || lineFailed;
}

void CChatServer::RelayChat(CUserInfo* pSender, const std::string& text)
{
    SendToAll(FormatRelay(pSender->m_name, text));
}

CUserInfo* CChatServer::FindUser(const sockaddr_in& from)
{
    const std::int32_t count = m_roster.m_nCount;
    m_roster.BeginWalk();
    for (std::int32_t i = 0; i < count; ++i) {
        CUserInfo* pUser = m_roster.Current();
        if (pUser->m_addr.sin_addr.s_addr == from.sin_addr.s_addr && pUser->m_addr.sin_port == from.sin_port)
            return pUser;
        m_roster.Advance();
    }
    return nullptr;
}

void CChatServer::Shutdown()
{
    SendToAll(FormatBare(HDR_SHUTDOWN));
    m_udpSocket.Close();
    m_listenSocket.Close();
}

bool CChatServer::SendToAll(const std::string& text)
{
    // Every member is tried: one unreachable address must not cost the
    // members after it their datagram.
    bool failed = false;
    const std::int32_t count = m_roster.m_nCount;
    m_roster.BeginWalk();
    for (std::int32_t i = 0; i < count; ++i) {
        if (SendToUser(m_roster.Current(), text))
            failed = true;
        m_roster.Advance();
    }
    if (!failed)
        m_pWnd->AppendLog(text);
    return failed;
}

bool CChatServer::SendToUser(CUserInfo* pUser, const std::string& text)
{
    // The terminating zero always goes with the text.
    const int len = static_cast<int>(text.size()) + 1;
    if (SendDatagram(pUser->m_addr, text.c_str(), len)) {
        m_pWnd->AppendLog("Error: " + std::to_string(errno));
        return true;
    }
    g_bytesWritten += len;
    m_pWnd->UpdateTraffic();
    return false;
}

bool CChatServer::SendDatagram(const sockaddr_in& to, const char* pData, int len)
{
    // A full send buffer or a moment without buffers is congestion, not a
    // lost user: wait a little for room and try again.
    const auto deadline = std::chrono::steady_clock::now() + kSendRetryLimit;
    for (;;) {
        const int sent = m_udpSocket.SendTo(pData, len, to);
        if (sent == len)
            return false;
        if (sent >= 0) {
            // A datagram goes whole or not at all; a part of one is no datagram.
            errno = EMSGSIZE;
            return true;
        }
        const int error = errno;
        if (error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            errno = error;
            return true;
        }
        // ENOBUFS leaves the socket writable, so waiting for writability
        // would not wait at all; pause briefly instead.
        if (error == ENOBUFS)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else
            m_udpSocket.WaitWritable(static_cast<int>(left.count()));
    }
}
