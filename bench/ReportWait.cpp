#include "ReportWait.h"

#include "EventLoop.h"

namespace {

// Takes one report off the link when the loop finds it readable.
class CReportWatcher : public CWatcher {
public:
    CReportWatcher(CLoadLink& link, CLoadReport& report) : m_link(link), m_report(report) {}
    void OnReadable() override
    {
        m_bFailed = m_link.Get(m_report);
        m_bDone = true;
    }
    bool m_bDone = false;
    bool m_bFailed = false;

private:
    CLoadLink& m_link;
    CLoadReport& m_report;
};

}  // namespace

bool AwaitReport(CEventLoop& loop, CLoadLink& link, CLoadReport& report)
{
    CReportWatcher watcher(link, report);
    if (loop.Watch(link.Fd(), &watcher))
        return true;
    // As a program runs: one pass after another, waiting without bound. A
    // loop whose wait fails would fail again at once: give up instead of
    // spinning.
    bool bLoopFailed = false;
    while (!watcher.m_bDone && !bLoopFailed)
        bLoopFailed = loop.RunOnce(-1) < 0;
    loop.Unwatch(link.Fd());
    return watcher.m_bFailed || bLoopFailed;
}
