#include "SignOnGate.h"

#include <arpa/inet.h>

#include <algorithm>

#include "ChatServer.h"

namespace {
// Making room is logged at most once a second for each address it costs.
constexpr auto kMadeRoomLogGap = std::chrono::seconds(1);
// Addresses whose last such line may pile up before the stale are swept out.
constexpr std::size_t kSweepAbove = 1024;
}  // namespace

CSignOnGate::~CSignOnGate() { CloseAll(); }

void CSignOnGate::Init(IServerView* pWnd, CChatServer* pServer)
{
    m_pWnd = pWnd;
    m_pServer = pServer;
}

std::unique_ptr<CSignOn> CSignOnGate::Prepare(CEventLoop& loop)
{
    return std::make_unique<CSignOn>(loop, *m_pServer, *m_pWnd, *this);
}

void CSignOnGate::Admit(std::unique_ptr<CSignOn> pSignOn, const sockaddr_in& peer)
{
    const in_addr_t address = peer.sin_addr.s_addr;
    if (m_perAddress[address] >= kPerAddress)
        MakeRoom(address, std::to_string(kPerAddress) + " of its sign-ons were under way");
    else if (m_signOns.size() >= kInAll)
        MakeRoom(Busiest(), std::to_string(kInAll) + " sign-ons were under way");
    ++m_perAddress[address];
    m_signOns.push_back(std::move(pSignOn));
    m_signOns.back()->Start(peer, m_limits);  // may end it at once
}

void CSignOnGate::OnSignOnEnded(CSignOn* pSignOn)
{
    const auto it = std::find_if(m_signOns.begin(), m_signOns.end(),
                                 [&](const auto& pEntry) { return pEntry.get() == pSignOn; });
    if (it != m_signOns.end())
        Remove(it);
}

void CSignOnGate::CloseAll()
{
    m_signOns.clear();
    m_perAddress.clear();
}

void CSignOnGate::MakeRoom(in_addr_t address, const std::string& why)
{
    const auto it = std::find_if(m_signOns.begin(), m_signOns.end(),
                                 [&](const auto& pEntry) { return pEntry->Peer().sin_addr.s_addr == address; });
    if (it == m_signOns.end())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_lastMadeRoomLog.size() > kSweepAbove)
        std::erase_if(m_lastMadeRoomLog, [&](const auto& entry) { return now - entry.second >= kMadeRoomLogGap; });
    const auto [last, bNew] = m_lastMadeRoomLog.try_emplace(address, now);
    if (bNew || now - last->second >= kMadeRoomLogGap) {
        last->second = now;
        m_pServer->PeerLog().Write(address,
                                   "Sign-on from " + std::string(::inet_ntoa((*it)->Peer().sin_addr)) +
                                       " abandoned to make room: " + why,
                                   ELogLevel::Warning);
    }
    Remove(it);
}

in_addr_t CSignOnGate::Busiest() const
{
    std::size_t most = 0;
    for (const auto& [address, count] : m_perAddress)
        most = std::max(most, count);
    for (const auto& pSignOn : m_signOns)
        if (m_perAddress.at(pSignOn->Peer().sin_addr.s_addr) == most)
            return pSignOn->Peer().sin_addr.s_addr;
    return INADDR_NONE;
}

void CSignOnGate::Remove(std::vector<std::unique_ptr<CSignOn>>::iterator it)
{
    const in_addr_t address = (*it)->Peer().sin_addr.s_addr;
    if (--m_perAddress[address] == 0)
        m_perAddress.erase(address);
    m_signOns.erase(it);
}
