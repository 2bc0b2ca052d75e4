#include "ChatServer.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "MissedChanges.h"
#include "Protocol.h"
#include "ServerView.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

// How long one datagram may wait for room in a full send buffer before its
// send counts as failed. Short: the server does nothing else meanwhile.
constexpr auto kSendRetryLimit = std::chrono::milliseconds(100);

// Members handed to the socket layer at once by a broadcast.
constexpr int kSendBatch = 256;

// The datagram socket's receive buffer. Lines that arrive while the server is
// busy relaying (a burst from several users, or everything that came during
// a sign-on) wait here; with the system's default of about 200 KiB only a
// few hundred small datagrams fit, and the rest would be dropped before the
// server ever saw them. Each queued datagram is charged with its bookkeeping
// (around a KiB for a chat line), so 4 MiB, which the system doubles, holds
// thousands of lines.
constexpr int kBurstReceiveBuffer = 4 << 20;

// Sign-ons no longer wait for each other, so a burst of connections (a class
// signing on at once) is taken in whole, and the gate decides what stays.
constexpr int kListenBacklog = SOMAXCONN;

}  // namespace

CChatServer::~CChatServer() = default;

bool CChatServer::Start(IServerView* pWnd)
{
    m_listenSocket.Init(pWnd, this);
    m_udpSocket.Init(pWnd, this);
    m_pWnd = pWnd;
    if (m_listenSocket.Create(SIGNON_PORT, SOCK_STREAM, CAsyncSocket::FD_READ | CAsyncSocket::FD_ACCEPT,
                              m_listenAddress)) {
        m_pWnd->ShowMessage("TCP/IP create error");
        return true;
    }
    if (m_udpSocket.Create(BROADCAST_PORT, SOCK_DGRAM, CAsyncSocket::FD_READ, m_listenAddress)) {
        m_pWnd->ShowMessage("UDP create error");
        return true;
    }
    // Room for a burst of lines (see kBurstReceiveBuffer). If the system
    // refuses, the default buffer still serves, only with less room.
    static_cast<void>(m_udpSocket.SetReceiveBuffer(kBurstReceiveBuffer));
    // Their timers run in the loop that serves the sockets.
    m_peerLog.Init(pWnd, m_udpSocket.Loop());
    m_floods.Init(this, m_udpSocket.Loop());
    if (m_listenSocket.Listen(kListenBacklog)) {
        m_pWnd->ShowMessage("startup listen error");
        return true;
    }
    return false;
}

void CChatServer::SetLimits(const CServerLimits& limits)
{
    m_listenSocket.SetLimits(limits.signOn);
    m_floods.SetLimits(limits.flood);
    m_peerLog.SetBudget(limits.log);
}

void CChatServer::AddUser(CUserInfo* pUser, CMissedChanges* pMissed)
{
    // One socket, one member: a member whose datagrams come from the same
    // address and port is the newcomer's earlier self, or a record that
    // socket can no longer answer for. It leaves as if it had signed off,
    // so that the room hears of it, before the newcomer joins.
    // A missed member is logged by the sends; the sign-on goes on regardless.
    while (CUserInfo* pEarlier = FindUser(pUser->m_addr))
        static_cast<void>(RemoveUser(pEarlier));
    // The room changed while the newcomer's sign-on went on: the newcomer
    // alone hears how, so that its copy of the room is the room, before the
    // room hears of it.
    if (pMissed) {
        UnfollowRoom(pMissed);
        for (const std::string& datagram : pMissed->Datagrams())
            static_cast<void>(SendToUser(pUser, datagram));
    }
    m_roster.AddHead(pUser);
    m_byAddress[AddressKey(pUser->m_addr)] = pUser;
    m_pRoomList.reset();
    for (CMissedChanges* pFollower : m_followers)
        pFollower->Joined(pUser);
    static_cast<void>(AnnounceJoin(pUser));
    m_pWnd->UpdateUserList(m_roster);
}

bool CChatServer::AnnounceJoin(CUserInfo* pUser)
{
    // The join line goes out even if HDR_NEW missed someone: the members it
    // did reach should not be left without the line that explains it.
    const bool newFailed = SendToAll(FormatNew(pUser->m_ping, pUser->m_name), ELogLevel::Info);
    const bool joinFailed = SendToAll(FormatJoinLine(pUser->m_name), ELogLevel::Info);
    return newFailed || joinFailed;
}

bool CChatServer::RemoveUser(CUserInfo* pUser)
{
    // The user leaves whatever the leave datagrams did: keeping it would keep
    // a member that asked to go, and every later datagram would try it again.
    const bool leaveFailed = SendToAll(FormatLeave(pUser->m_name), ELogLevel::Info);
    const bool lineFailed = SendToAll(FormatLeaveLine(pUser->m_name), ELogLevel::Info);

    m_pRoomList.reset();
    for (CMissedChanges* pFollower : m_followers)
        pFollower->Leaving(pUser);
    m_floods.Forget(pUser);
    if (const auto it = m_byAddress.find(AddressKey(pUser->m_addr)); it != m_byAddress.end() && it->second == pUser)
        m_byAddress.erase(it);
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
    static_cast<void>(SendToAll(FormatRelay(pSender->m_name, text), ELogLevel::Debug));
}

CUserInfo* CChatServer::FindUser(const sockaddr_in& from)
{
    // AddUser keeps one member to an address and port, so the index holds
    // the one a walk from the head would meet.
    const auto it = m_byAddress.find(AddressKey(from));
    return it == m_byAddress.end() ? nullptr : it->second;
}

std::shared_ptr<const std::string> CChatServer::ListRoomFor(CMissedChanges* pChanges)
{
    m_followers.push_back(pChanges);
    if (m_pRoomList)
        return m_pRoomList;
    const std::int32_t count = m_roster.m_nCount;
    std::string list = EncodeInt32(count);
    m_roster.BeginWalk();
    for (std::int32_t i = 0; i < count; ++i) {
        const CUserInfo* pEntry = m_roster.Current();
        list += EncodeRoomEntry(pEntry->m_name, pEntry->m_ping);
        m_roster.Advance();
    }
    m_pRoomList = std::make_shared<const std::string>(std::move(list));
    return m_pRoomList;
}

void CChatServer::UnfollowRoom(CMissedChanges* pChanges) { std::erase(m_followers, pChanges); }

void CChatServer::Shutdown()
{
    // What the log still owes goes before the room hears the end.
    m_floods.Finish();
    m_peerLog.Finish();
    static_cast<void>(SendToAll(FormatBare(HDR_SHUTDOWN), ELogLevel::Notice));
    m_udpSocket.Close();
    m_listenSocket.Shutdown();
}

bool CChatServer::SendToAll(const std::string& text, ELogLevel level)
{
    // Every member is tried: one unreachable address must not cost the
    // members after it their datagram. The members go in batches, in roster
    // order, so that a large room costs few system calls.
    const int len = static_cast<int>(text.size()) + 1;  // the zero byte goes too
    const sockaddr_in* batch[kSendBatch];
    std::int32_t missed = 0;
    const std::int32_t count = m_roster.m_nCount;
    m_roster.BeginWalk();
    for (std::int32_t done = 0; done < count;) {
        int n = 0;
        for (; n < kSendBatch && done + n < count; ++n) {
            batch[n] = &m_roster.Current()->m_addr;
            m_roster.Advance();
        }
        missed += SendEach(text.c_str(), len, batch, n);
        done += n;
    }
    // The log shows what went out to the room: the text, after the errors
    // of the members it missed, unless it reached nobody at all.
    if (count == 0 || missed < count)
        m_pWnd->AppendLog(text, level);
    return missed > 0;
}

bool CChatServer::SendToUser(CUserInfo* pUser, const std::string& text)
{
    const sockaddr_in* pTo = &pUser->m_addr;
    return SendEach(text.c_str(), static_cast<int>(text.size()) + 1, &pTo, 1) > 0;
}

int CChatServer::SendEach(const char* pData, int len, const sockaddr_in* const* ppTo, int count)
{
    int failed = 0;
    int done = 0;
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (done < count) {
        const int sent = m_udpSocket.SendToEach(pData, len, ppTo + done, count - done);
        if (sent > 0) {
            done += sent;
            g_bytesWritten += static_cast<std::int64_t>(sent) * len;
            m_pWnd->UpdateTraffic();
            deadline = std::chrono::steady_clock::time_point::max();
            continue;
        }
        // A full send buffer or a moment without buffers is congestion, not
        // a lost member: wait a little for room and try the same one again.
        const int error = errno;
        const auto now = std::chrono::steady_clock::now();
        if (deadline == std::chrono::steady_clock::time_point::max())
            deadline = now + kSendRetryLimit;
        if ((error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) && now < deadline) {
            // ENOBUFS leaves the socket writable, so waiting for writability
            // would not wait at all; pause briefly instead. Either way the
            // send is tried again, and the deadline tells when to give up.
            if (error == ENOBUFS)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else
                static_cast<void>(m_udpSocket.WaitWritable(static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1));
            continue;
        }
        m_peerLog.Write(ppTo[done]->sin_addr.s_addr, "Error: " + std::to_string(error), ELogLevel::Error);
        ++failed;
        ++done;  // this member goes without; the ones after it are still tried
        deadline = std::chrono::steady_clock::time_point::max();
    }
    return failed;
}
