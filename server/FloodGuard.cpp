#include "FloodGuard.h"

#include <arpa/inet.h>

#include <string>

#include "ChatServer.h"
#include "Grouped.h"
#include "UserInfo.h"
#include "Wire.h"

CFloodGuard::~CFloodGuard()
{
    if (m_pLoop)
        m_pLoop->KillTimer(this);
}

void CFloodGuard::Init(CChatServer* pServer, CEventLoop* pLoop)
{
    m_pServer = pServer;
    m_pLoop = pLoop;
}

bool CFloodGuard::Admit(CUserInfo* pUser)
{
    if (!m_limits.bOn)
        return true;
    const auto now = Clock::now();
    auto it = m_members.find(pUser);
    if (it == m_members.end())
        it = m_members.try_emplace(pUser, CMember{{m_limits.burst, m_limits.perSecond, now}}).first;
    CMember& member = it->second;
    if (member.bucket.Take(1, now))
        return true;
    if (member.dropped++ == 0) {
        // A flood begins: the flooder hears of it at the next look, which
        // comes soon, with the count so far.
        ++m_nFloods;
        member.started = now;
        member.told = now - m_limits.noticeEvery;
        Tick(now);
    }
    ++member.untold;
    member.lastDrop = now;
    return false;
}

void CFloodGuard::Forget(CUserInfo* pUser)
{
    const auto it = m_members.find(pUser);
    if (it == m_members.end())
        return;
    if (it->second.dropped > 0)
        EndFlood(pUser, it->second);
    m_members.erase(it);
}

void CFloodGuard::Finish()
{
    for (auto& [pUser, member] : m_members)
        if (member.dropped > 0)
            EndFlood(pUser, member);
    if (m_pLoop)
        m_pLoop->KillTimer(this);
}

void CFloodGuard::Tick(Clock::time_point now)
{
    // Five looks per notice period: a notice is at most a fifth late.
    if (m_pLoop && !m_pLoop->IsTimerSet(this))
        m_pLoop->SetTimer(this, now + m_limits.noticeEvery / 5);
}

void CFloodGuard::OnTimer()
{
    const auto now = Clock::now();
    for (auto& [pUser, member] : m_members) {
        if (member.dropped == 0)
            continue;
        if (member.untold > 0 && now - member.told >= m_limits.noticeEvery)
            Tell(pUser, member, now);
        else if (member.untold == 0 && now - member.lastDrop >= m_limits.noticeEvery)
            EndFlood(pUser, member);
    }
    if (m_nFloods > 0)
        Tick(now);
}

void CFloodGuard::Tell(CUserInfo* pUser, CMember& member, Clock::time_point now)
{
    // One of the room's own notice lines, to the flooder alone.
    static_cast<void>(m_pServer->SendToUser(
        pUser, FormatChat("* Slow down: " + Grouped(member.untold) + " of your lines were not relayed")));
    member.untold = 0;
    member.told = now;
}

void CFloodGuard::EndFlood(CUserInfo* pUser, CMember& member)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(member.lastDrop - member.started).count();
    char address[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &pUser->m_addr.sin_addr, address, sizeof address);
    m_pServer->PeerLog().Write(pUser->m_addr.sin_addr.s_addr,
                               "Flood from " + pUser->m_name + " at " + address + ":" +
                                   std::to_string(ntohs(pUser->m_addr.sin_port)) + ": " + Grouped(member.dropped) +
                                   " datagrams dropped in " + std::to_string(seconds) + " s",
                               ELogLevel::Warning);
    member.dropped = 0;
    member.untold = 0;
    --m_nFloods;
}
