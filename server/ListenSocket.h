#pragma once
// The sign-on listener on SIGNON_PORT. Each accept notification runs one
// whole sign-on on a blocking connection and hands the new user to the core.
// Owns nothing but its descriptor.

#include <chrono>
#include <string>

#include "AsyncSocket.h"

class CChatServer;
class CSocket;
class CUserInfo;
class IServerView;

class CListenSocket : public CAsyncSocket {
public:
    void Init(IServerView* pWnd, CChatServer* pServer);
    // A sign-on not complete this long after its accept is abandoned, so a
    // silent or stalled client cannot hold the server.
    void SetSignOnLimit(std::chrono::milliseconds limit) { m_signOnLimit = limit; }

protected:
    void OnAccept(int nErrorCode) override;

private:
    // Each step below is true (failed) if the peer closed, a call failed or
    // the deadline passed before its last byte moved. Bytes are counted into
    // the totals as they arrive or leave, whatever the outcome.

    // The hello up to and including its zero byte (at most HELLO_RECEIVE_SIZE
    // bytes) and never past it; only its first byte when that is not
    // PROTOCOL_VERSION.
    bool ReceiveHello(CSocket& conn, std::string& hello);
    void Refuse(CSocket& conn, unsigned char version);
    // The verdict, the room list and the ping probe, in one send.
    bool SendRoom(CSocket& conn, const CUserInfo& user);
    bool MeasurePing(CSocket& conn, CUserInfo& user);
    bool ReceivePortNotice(CSocket& conn, CUserInfo& user);
    void Abandon(const std::string& peerText, std::chrono::steady_clock::time_point deadline);

    CChatServer* m_pServer = nullptr;
    IServerView* m_pWnd = nullptr;
    std::chrono::milliseconds m_signOnLimit = std::chrono::seconds(10);
};
