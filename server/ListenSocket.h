#pragma once
// The sign-on listener on SIGNON_PORT. Each accepted connection waits,
// parked, for its hello while the server goes on serving; once the hello is
// in, the rest of the sign-on runs as one blocking exchange and hands the new
// user to the core. Owns its descriptor and the parked sign-ons.

#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "AsyncSocket.h"
#include "ParkedSignOn.h"

class CChatServer;
class CSocket;
class CUserInfo;
class IServerView;

class CListenSocket : public CAsyncSocket {
public:
    using Clock = std::chrono::steady_clock;

    // How long a peer may keep the server waiting, so that a silent or
    // stalled client cannot hold it.
    struct CLimits {
        // From the accept to the whole hello; the server serves on meanwhile.
        std::chrono::milliseconds hello = std::chrono::seconds(10);
        // From the hello to the port notice: the server waits for nothing
        // else meanwhile, and a LAN answers in milliseconds.
        std::chrono::milliseconds exchange = std::chrono::seconds(2);
        // An address that ran out of that time has its connections closed
        // at once for this long.
        std::chrono::milliseconds penalty = std::chrono::seconds(10);
    };

    CListenSocket() = default;
    ~CListenSocket() override;  // closes every parked sign-on without a word

    void Init(IServerView* pWnd, CChatServer* pServer);
    void SetLimits(const CLimits& limits) { m_limits = limits; }
    // Stop listening and close every parked sign-on at once.
    void Shutdown();

    // Called by a parked sign-on from its own notification, as the last
    // thing it does: deletes it once the outcome has been dealt with.
    void OnParkedDone(CParkedSignOn* pParked, CParkedSignOn::EOutcome outcome);

protected:
    void OnAccept(int nErrorCode) override;

private:
    // Brings the listener back after a pause: a timer, then the watcher of
    // the listening descriptor from then on.
    // (::CWatcher: the name alone would be the private base of CAsyncSocket.)
    class CResume : public ::CWatcher, public CTimer {
    public:
        explicit CResume(CListenSocket* pOwner) : m_pOwner(pOwner) {}
        void OnReadable() override { m_pOwner->OnAccept(0); }
        void OnTimer() override { m_pOwner->ResumeAccepting(); }

    private:
        CListenSocket* m_pOwner;
    };
    struct CPenalty {
        Clock::time_point until;
        bool bLogged = false;  // its one log line is out
    };

    // Whether a connection from peer is to be closed at once (a penalty or a
    // cap), with its log line if one is due.
    [[nodiscard]] bool Turned(const sockaddr_in& peer, const std::string& peerText);
    void LogRefusal(in_addr_t address, const std::string& line);
    // Close the address's connections at once for the penalty's length.
    void Penalise(in_addr_t address);
    void AcceptFailed(int error);
    void ResumeAccepting();

    // The sign-on once the hello is in, on one blocking exchange. Each step
    // below is true (failed) if the peer closed, a call failed or the
    // deadline passed before its last byte moved. Bytes are counted into
    // the totals as they arrive or leave, whatever the outcome.
    void RunExchange(CParkedSignOn& parked);
    void Refuse(CSocket& conn, unsigned char version);
    // The verdict, the room list and the ping probe, in one send.
    [[nodiscard]] bool SendRoom(CSocket& conn, const CUserInfo& user);
    [[nodiscard]] bool MeasurePing(CSocket& conn, CUserInfo& user);
    [[nodiscard]] bool ReceivePortNotice(CSocket& conn, CUserInfo& user);
    void Abandon(const std::string& peerText, const std::string& reason);

    CChatServer* m_pServer = nullptr;
    IServerView* m_pWnd = nullptr;
    CLimits m_limits;
    std::vector<std::unique_ptr<CParkedSignOn>> m_parked;  // oldest first
    std::unordered_map<in_addr_t, CPenalty> m_penalties;
    std::unordered_map<in_addr_t, Clock::time_point> m_lastRefusalLog;
    CResume m_resume{this};
    CEventLoop* m_pPauseLoop = nullptr;  // the loop that watches for accepts while paused
    bool m_bAcceptFailing = false;       // its one log line is out
};
