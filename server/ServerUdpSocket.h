#pragma once
// The server's datagram socket on BROADCAST_PORT. Each read notification
// reads one datagram, checks that a signed-on user sent it and passes it to
// the core. Owns nothing but its descriptor.

#include "AsyncSocket.h"

class CChatServer;
class IServerView;

class CServerUdpSocket : public CAsyncSocket {
public:
    void Init(IServerView* pWnd, CChatServer* pServer);

protected:
    void OnReceive(int nErrorCode) override;

private:
    IServerView* m_pWnd = nullptr;
    CChatServer* m_pServer = nullptr;
};
