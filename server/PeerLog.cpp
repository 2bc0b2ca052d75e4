#include "PeerLog.h"

#include <chrono>

namespace {
constexpr auto kSummaryEvery = std::chrono::seconds(1);
}

CPeerLog::~CPeerLog()
{
    if (m_pLoop)
        m_pLoop->KillTimer(this);
}

void CPeerLog::Init(IServerView* pWnd, CEventLoop* pLoop)
{
    m_pWnd = pWnd;
    m_pLoop = pLoop;
}

void CPeerLog::Write(in_addr_t peer, const std::string& text, ELogLevel level)
{
    const auto now = CEventLoop::Clock::now();
    if (m_budget.Admit(peer, text.size(), now)) {
        m_pWnd->AppendLog(text, level);
        return;
    }
    if (m_pLoop && !m_pLoop->IsTimerSet(this))
        m_pLoop->SetTimer(this, now + kSummaryEvery);
}

void CPeerLog::Finish()
{
    if (m_pLoop)
        m_pLoop->KillTimer(this);
    OnTimer();
}

void CPeerLog::OnTimer()
{
    for (const std::string& line : m_budget.TakeSummaries())
        m_pWnd->AppendLog(line, ELogLevel::Warning);
}
