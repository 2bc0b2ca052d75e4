#pragma once
// An accepted sign-on connection that waits for its hello without holding
// the server: watched for reading, with a deadline of its own. It owns the
// connection; the listener owns it and runs the rest of the sign-on, on the
// same connection, once the hello is in. It does not own the loop.

#include <netinet/in.h>

#include <string>

#include "EventLoop.h"
#include "Socket.h"

class CListenSocket;

class CParkedSignOn final : private CWatcher, private CTimer {
public:
    enum class EOutcome {
        HelloIn,   // the hello is complete (see ReadHello)
        Lost,      // the peer closed or the connection failed first
        TimedOut,  // the deadline passed first
    };

    explicit CParkedSignOn(CListenSocket* pListener) : m_pListener(pListener) {}
    ~CParkedSignOn();  // stops waiting and closes the connection
    CParkedSignOn(const CParkedSignOn&) = delete;
    CParkedSignOn& operator=(const CParkedSignOn&) = delete;

    // Wait in pLoop for the hello until deadline; the listener hears of the
    // outcome through OnParkedDone. True (failed) if the loop refused.
    [[nodiscard]] bool Park(CEventLoop* pLoop, const sockaddr_in& peer, CEventLoop::Clock::time_point deadline);
    // No more notifications and no deadline; the connection stays open.
    void StopWaiting();

    CSocket& Connection() { return m_conn; }
    const sockaddr_in& Peer() const { return m_peer; }
    // The bytes received so far, never past the hello's zero byte.
    const std::string& Hello() const { return m_hello; }

private:
    void OnReadable() override;
    void OnTimer() override;
    // Take what has arrived of the hello, up to and including its zero byte
    // and no further, so that what follows stays for the rest of the
    // sign-on. True once an outcome is known; *pOutcome then tells which.
    [[nodiscard]] bool ReadHello(EOutcome* pOutcome);

    CListenSocket* m_pListener;
    CEventLoop* m_pLoop = nullptr;  // where it waits; null once it has stopped
    CSocket m_conn;
    sockaddr_in m_peer{};
    std::string m_hello;
};
