#pragma once
// The server core: owns the roster and the server's two sockets, and sends
// every datagram the server sends. Reaches its window only through
// IServerView, so it runs without Qt.

#include <netinet/in.h>

#include <string>

#include "ListenSocket.h"
#include "ServerUdpSocket.h"
#include "UserList.h"

class CUserInfo;
class IServerView;

class CChatServer {
public:
    CChatServer() = default;
    virtual ~CChatServer();  // closes the sockets and frees the roster, sending nothing
    CChatServer(const CChatServer&) = delete;
    CChatServer& operator=(const CChatServer&) = delete;

    // Listen on SIGNON_PORT and bind BROADCAST_PORT. True (failed) after its
    // message box has been answered.
    bool Start(IServerView* pWnd);
    void AddUser(CUserInfo* pUser);  // takes ownership; announces the user
    bool AnnounceJoin(CUserInfo* pUser);
    bool RemoveUser(CUserInfo* pUser);  // pUser is freed on success
    void RelayChat(CUserInfo* pSender, const std::string& text);
    CUserInfo* FindUser(const sockaddr_in& from);
    CUserList* GetUserList() { return &m_roster; }
    void Shutdown();  // HDR_SHUTDOWN to everyone, then both sockets closed

    // Send text (and its zero byte) to every member in roster order.
    bool SendToAll(const std::string& text);
    bool SendToUser(CUserInfo* pUser, const std::string& text);

private:
    IServerView* m_pWnd = nullptr;
    CUserList m_roster;
    CListenSocket m_listenSocket;
    CServerUdpSocket m_udpSocket;
};
