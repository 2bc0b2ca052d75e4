#pragma once
// The client core: signs on to one server, keeps this client's copy of the
// room and sends its datagrams. Reaches its window only through IClientView,
// so it runs without Qt. The window keeps the server address and the name.

#include <netinet/in.h>

#include <string>

#include "ClientUdpSocket.h"
#include "UserList.h"

class IClientView;

class CChatClient {
public:
    CChatClient() = default;
    virtual ~CChatClient();  // frees the roster, closes the socket, sends nothing
    CChatClient(const CChatClient&) = delete;
    CChatClient& operator=(const CChatClient&) = delete;

    void Init(IClientView* pWnd);
    // The client side of the sign-on; only the address field of serverAddr
    // need be set. True if it failed (the window then ends).
    bool Logon(sockaddr_in serverAddr, const std::string& name);
    void Disconnect();
    void SendChat(const std::string& line);
    bool SendText(const std::string& packet);  // true if the send failed

    // Datagram handlers, called by the datagram socket only.
    void OnUserJoined(const std::string& text);
    void OnUserLeft(const std::string& name);
    void OnServerTerminated();
    void OnPing();

    bool IsConnected() const { return m_bConnected; }
    CUserList& Roster() { return m_roster; }

private:
    IClientView* m_pWnd = nullptr;
    bool m_bConnected = false;
    CClientUdpSocket m_udpSocket;
    CUserList m_roster;
};
