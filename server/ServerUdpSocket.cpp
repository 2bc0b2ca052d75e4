#include "ServerUdpSocket.h"

#include <string>
#include <string_view>

#include "ChatServer.h"
#include "Protocol.h"
#include "ServerView.h"
#include "Traffic.h"
#include "Wire.h"

void CServerUdpSocket::Init(IServerView* pWnd, CChatServer* pServer)
{
    m_pWnd = pWnd;
    m_pServer = pServer;
}

void CServerUdpSocket::OnReceive(int /*nErrorCode*/)
{
    // One byte more than a receive may fill; a longer datagram fails the
    // receive (the socket layer sees its true length) and is lost.
    char buf[DATAGRAM_RECEIVE_SIZE + 1];
    sockaddr_in from{};
    const int len = ReceiveFrom(buf, DATAGRAM_RECEIVE_SIZE, from);
    if (len < 0) {
        m_pWnd->AppendLog("Recieve Error!", ELogLevel::Warning);
        return;
    }
    // An empty datagram has no type byte to act on: dropped, not counted.
    if (len == 0)
        return;

    CUserInfo* pSender = m_pServer->FindUser(from);
    if (pSender == nullptr) {
        m_pWnd->AppendLog("packet detected from unknown user not signed on!", ELogLevel::Warning);
        return;
    }

    const std::string_view datagram(buf, static_cast<std::size_t>(len));
    const int type = DatagramType(datagram);
    switch (type) {
    case HDR_NEW:
        m_pWnd->AppendLog("HDR_NEW is an illegal packet type to be sent to the server!", ELogLevel::Warning);
        break;
    case HDR_CHAT:
        m_pServer->RelayChat(pSender, std::string(DatagramText(datagram)));
        break;
    case HDR_LEAVE:
        // Frees pSender; a member it missed is logged by the sends.
        static_cast<void>(m_pServer->RemoveUser(pSender));
        break;
    case HDR_PING:
        break;
    default:
        m_pWnd->AppendLog("Unkown packet of type " + std::to_string(type) + " detected!", ELogLevel::Warning);
        m_pWnd->AppendLog("Packet was: " + std::string(TextUpToZero(datagram)), ELogLevel::Warning);
        return;
    }
    g_bytesRead += len;
    m_pWnd->UpdateTraffic();
}
