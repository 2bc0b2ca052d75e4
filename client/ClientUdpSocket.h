#pragma once
// The client's datagram socket, connected to the server's BROADCAST_PORT so
// that nothing from any other address reaches it. Each read notification
// reads one datagram and dispatches it by type. Owns nothing but its
// descriptor.

#include "AsyncSocket.h"

class CChatClient;
class IClientView;

class CClientUdpSocket : public CAsyncSocket {
public:
    void Init(IClientView* pWnd, CChatClient* pClient);

protected:
    void OnReceive(int nErrorCode) override;

private:
    CChatClient* m_pClient = nullptr;
    IClientView* m_pWnd = nullptr;
};
