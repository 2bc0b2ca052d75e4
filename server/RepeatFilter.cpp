#include "RepeatFilter.h"

#include <chrono>
#include <utility>

#include "LogWriter.h"

namespace {
constexpr auto kCountEvery = std::chrono::seconds(1);
}

CRepeatFilter::CRepeatFilter(CLogWriter& out) : m_out(out), m_pLoop(CEventLoop::Current()) {}

CRepeatFilter::~CRepeatFilter()
{
    if (m_pLoop)
        m_pLoop->KillTimer(this);
}

void CRepeatFilter::WriteLine(std::string line)
{
    if (m_bHaveLast && line == m_last) {
        if (++m_nRepeats == 1 && m_pLoop)
            m_pLoop->SetTimer(this, CEventLoop::Clock::now() + kCountEvery);
        return;
    }
    Finish();
    m_out.WriteLine(line);
    m_last = std::move(line);
    m_bHaveLast = true;
}

void CRepeatFilter::Finish()
{
    if (m_pLoop)
        m_pLoop->KillTimer(this);
    WriteCount();
}

// A flood that goes on is counted once a second; its line stays the one that
// repeats are compared with.
void CRepeatFilter::OnTimer() { WriteCount(); }

void CRepeatFilter::WriteCount()
{
    if (m_nRepeats == 1)
        m_out.WriteLine(m_last);
    else if (m_nRepeats > 1)
        m_out.WriteLine("last line repeated " + std::to_string(m_nRepeats) + " times");
    m_nRepeats = 0;
}
