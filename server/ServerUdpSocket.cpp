#include "ServerUdpSocket.h"

#include <cerrno>
#include <string>
#include <string_view>

#include "ChatServer.h"
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
    CDatagramSlot slots[kBatch];
    for (int i = 0; i < kBatch; ++i)
        slots[i] = {m_buffers[i], DATAGRAM_RECEIVE_SIZE, 0, {}};
    const int got = ReceiveFromEach(slots, kBatch);
    if (got < 0) {
        // Nothing was waiting after all; any other failure has no sender.
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            m_pServer->PeerLog().Write(INADDR_ANY, "Recieve Error!", ELogLevel::Warning);
        return;
    }
    for (int i = 0; i < got; ++i)
        Dispatch(slots[i]);
}

void CServerUdpSocket::Dispatch(const CDatagramSlot& datagram)
{
    const in_addr_t from = datagram.from.sin_addr.s_addr;
    CPeerLog& log = m_pServer->PeerLog();
    if (datagram.len < 0) {
        log.Write(from, "Recieve Error!", ELogLevel::Warning);
        return;
    }
    // An empty datagram has no type byte to act on: dropped, not counted.
    if (datagram.len == 0)
        return;

    CUserInfo* pSender = m_pServer->FindUser(datagram.from);
    if (pSender == nullptr) {
        log.Write(from, "packet detected from unknown user not signed on!", ELogLevel::Warning);
        return;
    }

    const std::string_view bytes(datagram.pBuf, static_cast<std::size_t>(datagram.len));
    const int type = DatagramType(bytes);
    // A member over its rate is dropped before anything else, but its leave
    // always goes through: the one datagram that ends its sending for good
    // must not leave it in the room for ever.
    if (type != HDR_LEAVE && !m_pServer->Floods().Admit(pSender))
        return;
    switch (type) {
    case HDR_NEW:
        log.Write(from, "HDR_NEW is an illegal packet type to be sent to the server!", ELogLevel::Warning);
        break;
    case HDR_CHAT:
        m_pServer->RelayChat(pSender, std::string(DatagramText(bytes)));
        break;
    case HDR_LEAVE:
        // Frees pSender; a member it missed is logged by the sends.
        static_cast<void>(m_pServer->RemoveUser(pSender));
        break;
    case HDR_PING:
        break;
    default:
        log.Write(from, "Unkown packet of type " + std::to_string(type) + " detected!", ELogLevel::Warning);
        log.Write(from, "Packet was: " + std::string(TextUpToZero(bytes)), ELogLevel::Warning);
        return;
    }
    g_bytesRead += datagram.len;
    m_pWnd->UpdateTraffic();
}
