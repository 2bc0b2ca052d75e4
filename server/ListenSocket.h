#pragma once
// The sign-on listener on SIGNON_PORT. Each accept notification runs one
// whole sign-on on a blocking connection and hands the new user to the core.
// Owns nothing but its descriptor.

#include "AsyncSocket.h"

class CChatServer;
class IServerView;

class CListenSocket : public CAsyncSocket {
public:
    void Init(IServerView* pWnd, CChatServer* pServer);

protected:
    void OnAccept(int nErrorCode) override;

private:
    CChatServer* m_pServer = nullptr;
    IServerView* m_pWnd = nullptr;
};
