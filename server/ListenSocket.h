#pragma once
// The sign-on listener on SIGNON_PORT: accepts every connection as it comes
// and hands it to the gate, which runs its sign-on beside the room. Owns its
// descriptor and the gate; not the window or the core.

#include "AsyncSocket.h"
#include "SignOnGate.h"

class CChatServer;
class IServerView;

class CListenSocket : public CAsyncSocket {
public:
    void Init(IServerView* pWnd, CChatServer* pServer);
    void SetLimits(const CSignOn::CLimits& limits) { m_gate.SetLimits(limits); }
    // Stop listening and close every sign-on under way at once.
    void Shutdown();

protected:
    void OnAccept(int nErrorCode) override;

private:
    void AcceptFailed(int error);

    IServerView* m_pWnd = nullptr;
    CChatServer* m_pServer = nullptr;
    CSignOnGate m_gate;
    bool m_bAcceptFailing = false;  // its one log line is out
};
