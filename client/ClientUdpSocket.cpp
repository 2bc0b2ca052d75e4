#include "ClientUdpSocket.h"

#include <string>
#include <string_view>

#include "ChatClient.h"
#include "ClientView.h"
#include "Protocol.h"
#include "Traffic.h"
#include "Wire.h"

void CClientUdpSocket::Init(IClientView* pWnd, CChatClient* pClient)
{
    m_pWnd = pWnd;
    m_pClient = pClient;
}

void CClientUdpSocket::OnReceive(int /*nErrorCode*/)
{
    char buffer[DATAGRAM_RECEIVE_SIZE + 1];
    const int received = Receive(buffer, DATAGRAM_RECEIVE_SIZE);
    if (received < 0) {
        m_pWnd->AppendLog("Recieve Error!!!!");
        return;
    }
    // An empty datagram has no type byte to go by.
    if (received == 0)
        return;

    const std::string_view datagram(buffer, static_cast<std::size_t>(received));
    const std::string text(DatagramText(datagram));
    // HDR_SHUTDOWN closes this socket: after the handler only the window and
    // the locals are used.
    IClientView* const pWnd = m_pWnd;
    switch (DatagramType(datagram)) {
    case HDR_NEW:
        m_pClient->OnUserJoined(text);
        break;
    case HDR_CHAT:
        m_pClient->OnChatLine(text);
        break;
    case HDR_LEAVE:
        m_pClient->OnUserLeft(text);
        break;
    case HDR_SHUTDOWN:
        m_pClient->OnServerTerminated();
        break;
    case HDR_PING:
        m_pClient->OnPing();
        break;
    default:
        pWnd->AppendLog("Unkown packet type!!!");
        return;
    }
    g_bytesRead += received;
    pWnd->UpdateTraffic();
}
