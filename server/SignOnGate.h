#pragma once
// The sign-ons under way, and how many may be: at most kPerAddress from one
// address and kInAll in all. Nobody is turned away: a newcomer beyond either
// cap makes room by abandoning the oldest sign-on of the address that holds
// the most (its own, when that is the one at its cap), so a peer that hogs
// the sign-ons loses its own first, and a client beside it still gets in.
// Owns the sign-ons; not the core, the window or the loop.

#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "SignOn.h"

class CChatServer;
class IServerView;

class CSignOnGate {
public:
    static constexpr std::size_t kPerAddress = 8;
    static constexpr std::size_t kInAll = 256;

    CSignOnGate() = default;
    ~CSignOnGate();  // closes every sign-on under way without a word
    CSignOnGate(const CSignOnGate&) = delete;
    CSignOnGate& operator=(const CSignOnGate&) = delete;

    void Init(IServerView* pWnd, CChatServer* pServer);
    void SetLimits(const CSignOn::CLimits& limits) { m_limits = limits; }

    // A new sign-on that runs in loop, to accept a connection into.
    [[nodiscard]] std::unique_ptr<CSignOn> Prepare(CEventLoop& loop);
    // Start a prepared sign-on, whose connection came from peer, making room
    // for it first if a cap is reached.
    void Admit(std::unique_ptr<CSignOn> pSignOn, const sockaddr_in& peer);
    // Called by a sign-on as the last thing it does: deletes it.
    void OnSignOnEnded(CSignOn* pSignOn);
    // Close every sign-on under way at once, without a word.
    void CloseAll();

private:
    // Abandon the oldest sign-on from address, with its log line if due.
    void MakeRoom(in_addr_t address, const std::string& why);
    // The address with the most sign-ons under way; of several, the one
    // whose oldest is oldest.
    in_addr_t Busiest() const;
    void Remove(std::vector<std::unique_ptr<CSignOn>>::iterator it);

    IServerView* m_pWnd = nullptr;
    CChatServer* m_pServer = nullptr;
    CSignOn::CLimits m_limits;
    std::vector<std::unique_ptr<CSignOn>> m_signOns;  // oldest first
    std::unordered_map<in_addr_t, std::size_t> m_perAddress;
    // When each address last had a sign-on abandoned to make room logged.
    std::unordered_map<in_addr_t, std::chrono::steady_clock::time_point> m_lastMadeRoomLog;
};
