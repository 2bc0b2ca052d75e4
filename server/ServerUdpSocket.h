#pragma once
// The server's datagram socket on BROADCAST_PORT. Each read notification
// takes the datagrams waiting, a batch at a time, checks that a signed-on
// user sent each and that it keeps within its rate (see CFloodGuard), and
// passes it to the core. Owns nothing but its descriptor and its buffers.

#include "AsyncSocket.h"
#include "Protocol.h"

class CChatServer;
class IServerView;

class CServerUdpSocket : public CAsyncSocket {
public:
    void Init(IServerView* pWnd, CChatServer* pServer);

protected:
    void OnReceive(int nErrorCode) override;

private:
    // Datagrams taken in one call: under a flood, reading one a pass of the
    // loop would leave the rest to fill the socket's buffer and push out the
    // lines of honest members.
    static constexpr int kBatch = 64;

    void Dispatch(const CDatagramSlot& datagram);

    IServerView* m_pWnd = nullptr;
    CChatServer* m_pServer = nullptr;
    // One byte more than a datagram may have: a longer one is a failed
    // receive, and is lost.
    char m_buffers[kBatch][DATAGRAM_RECEIVE_SIZE + 1] = {};
};
