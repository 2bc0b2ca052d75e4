#pragma once
// The server core: owns the roster and the server's two sockets, and sends
// every datagram the server sends. It does not own its window, which it
// reaches only through IServerView, so it runs without Qt.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "FloodGuard.h"
#include "ListenSocket.h"
#include "PeerLog.h"
#include "ServerLimits.h"
#include "ServerUdpSocket.h"
#include "ServerView.h"
#include "UserList.h"

class CMissedChanges;
class CUserInfo;
class IServerView;

class CChatServer {
public:
    CChatServer() = default;
    virtual ~CChatServer();  // closes the sockets and frees the roster, sending nothing
    CChatServer(const CChatServer&) = delete;
    CChatServer& operator=(const CChatServer&) = delete;

    // Listen on SIGNON_PORT and bind BROADCAST_PORT, both on the listen
    // address. True (failed) after its message box has been answered.
    [[nodiscard]] bool Start(IServerView* pWnd);
    // Before Start: the one local IPv4 address both sockets bind (every
    // interface unless told).
    void SetListenAddress(in_addr address) { m_listenAddress = address; }
    // Takes ownership and announces the user; a member at the same address
    // and port leaves first, as if it had signed off. Before that, the
    // newcomer alone is sent what pMissed holds, which then stops following.
    void AddUser(CUserInfo* pUser, CMissedChanges* pMissed = nullptr);
    // HDR_NEW, then the join line. True if either missed a member.
    [[nodiscard]] bool AnnounceJoin(CUserInfo* pUser);
    // Both leave datagrams, then pUser is removed and freed whatever they did.
    // True if either missed a member.
    [[nodiscard]] bool RemoveUser(CUserInfo* pUser);
    void RelayChat(CUserInfo* pSender, const std::string& text);
    // The member whose datagrams come from this address and port, or null.
    CUserInfo* FindUser(const sockaddr_in& from);
    CUserList* GetUserList() { return &m_roster; }
    // The room list for a newcomer: the count, then each member's entry,
    // newest first. From now on pChanges is told of every join and leave,
    // until it goes to AddUser or stops following. One list is shared by the
    // sign-ons that take it before the room changes: a large room's is
    // megabytes.
    [[nodiscard]] std::shared_ptr<const std::string> ListRoomFor(CMissedChanges* pChanges);
    void UnfollowRoom(CMissedChanges* pChanges);
    // HDR_SHUTDOWN to everyone, then both sockets and every waiting sign-on
    // closed.
    void Shutdown();

    // Send text (and its zero byte) to every member in roster order. Every
    // member is tried; true if any send failed. The text is logged at level
    // after the failures unless it reached no member (an empty room still
    // logs it).
    [[nodiscard]] bool SendToAll(const std::string& text, ELogLevel level);
    [[nodiscard]] bool SendToUser(CUserInfo* pUser, const std::string& text);

    // How long a sign-on may take, how fast a member may send, how much of
    // the log peers may cause.
    void SetLimits(const CServerLimits& limits);

    // Where the lines that peers cause are logged.
    CPeerLog& PeerLog() { return m_peerLog; }
    CFloodGuard& Floods() { return m_floods; }

private:
    // One datagram to each address in order, riding out a momentarily full
    // send buffer. A send that fails is logged for its member and the
    // addresses after it are still tried; each datagram sent is counted.
    // Returns how many failed.
    [[nodiscard]] int SendEach(const char* pData, int len, const sockaddr_in* const* ppTo, int count);
    static std::uint64_t AddressKey(const sockaddr_in& addr)
    {
        return std::uint64_t{addr.sin_addr.s_addr} << 16 | addr.sin_port;
    }

    IServerView* m_pWnd = nullptr;
    CUserList m_roster;
    // The members by address and port, so that a datagram finds its sender
    // (or none) at once however large the room: a flood is to cost little.
    std::unordered_map<std::uint64_t, CUserInfo*> m_byAddress;
    CPeerLog m_peerLog;
    CFloodGuard m_floods;
    // The sign-ons' records of what changed since their room lists (they
    // outlive the listener, which owns the sign-ons), and the last list.
    std::vector<CMissedChanges*> m_followers;
    std::shared_ptr<const std::string> m_pRoomList;
    in_addr m_listenAddress{htonl(INADDR_ANY)};
    CListenSocket m_listenSocket;
    CServerUdpSocket m_udpSocket;
};
