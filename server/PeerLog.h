#pragma once
// The log lines that peers cause, on their way to the window within their
// budget (CLogBudget): what is held back is summarised once a second while
// it goes on. Every line a sign-on or a datagram makes the server write goes
// through here, so that it holds in the window as on standard output. Owns
// its budget and its timer; not the window or the loop.

#include <netinet/in.h>

#include <string>

#include "EventLoop.h"
#include "LogBudget.h"
#include "ServerView.h"

class CPeerLog : private CTimer {
public:
    CPeerLog() = default;
    ~CPeerLog();
    CPeerLog(const CPeerLog&) = delete;
    CPeerLog& operator=(const CPeerLog&) = delete;

    // Summaries are written on time by pLoop, if there is one.
    void Init(IServerView* pWnd, CEventLoop* pLoop);
    // A budget of these settings from now on, full.
    void SetBudget(const CLogBudget::CSettings& settings) { m_budget = CLogBudget(settings); }
    // A line that peer caused.
    void Write(in_addr_t peer, const std::string& text, ELogLevel level);
    // Write the summaries still owed now: the server is stopping.
    void Finish();

private:
    void OnTimer() override;

    IServerView* m_pWnd = nullptr;
    CEventLoop* m_pLoop = nullptr;
    CLogBudget m_budget;
};
