#pragma once
// Flood control: each member may send a burst of datagrams at once (a pasted
// text goes whole) and then a steady rate, whatever their types; a datagram
// beyond that is dropped before any other work is done with it, so that one
// member's flood costs the others neither their lines nor the server's time.
// The flooder alone is told, at most once every noticeEvery while it goes on,
// and each flood ends with one log line. Owns its timer and the members'
// buckets; not the core, the members or the loop.

#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "EventLoop.h"
#include "TokenBucket.h"

class CChatServer;
class CUserInfo;

class CFloodGuard : private CTimer {
public:
    using Clock = std::chrono::steady_clock;

    struct CLimits {
        bool bOn = true;
        double burst = 100;
        double perSecond = 50;
        // How often a flooder is told at most; a flood is over once a
        // member has kept to its rate for this long.
        std::chrono::milliseconds noticeEvery = std::chrono::seconds(5);
    };

    CFloodGuard() = default;
    ~CFloodGuard();
    CFloodGuard(const CFloodGuard&) = delete;
    CFloodGuard& operator=(const CFloodGuard&) = delete;

    // Notices go out and floods end on time by pLoop, if there is one.
    void Init(CChatServer* pServer, CEventLoop* pLoop);
    void SetLimits(const CLimits& limits) { m_limits = limits; }

    // Whether a datagram from pUser is to be handled; if not, it is counted.
    [[nodiscard]] bool Admit(CUserInfo* pUser);
    // pUser leaves the room: a flood of its own ends here.
    void Forget(CUserInfo* pUser);
    // The server stops: every flood going on ends.
    void Finish();

private:
    struct CMember {
        CTokenBucket bucket;
        std::uint64_t dropped = 0;    // in the flood going on; 0: none
        std::uint64_t untold = 0;     // dropped since the flooder was last told
        Clock::time_point started{};  // when the flood began
        Clock::time_point told{};     // when the flooder was last told
        Clock::time_point lastDrop{};
    };

    void OnTimer() override;
    void Tell(CUserInfo* pUser, CMember& member, Clock::time_point now);
    void EndFlood(CUserInfo* pUser, CMember& member);
    void Tick(Clock::time_point now);  // arm the timer for the next look, if it is not

    CChatServer* m_pServer = nullptr;
    CEventLoop* m_pLoop = nullptr;
    CLimits m_limits;
    std::unordered_map<CUserInfo*, CMember> m_members;
    std::size_t m_nFloods = 0;  // members whose flood goes on
};
