#include "ServerTarget.h"

#include <cstdio>

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

void CHeadlessTarget::CNullView::ShowMessage(const std::string& text)
{
    std::fprintf(stderr, "server: %s\n", text.c_str());
}

bool CHeadlessTarget::Serve(const std::function<void()>& steps)
{
    CPollLoop loop;
    CNullView view;
    CChatServer server;
    if (server.Start(&view))
        return true;
    m_pLoop = &loop;
    steps();
    m_pLoop = nullptr;
    return false;
}

bool CHeadlessTarget::Await(CLoadLink& link, CLoadReport& report)
{
    CReportWatcher watcher(link, report);
    if (m_pLoop->Watch(link.Fd(), &watcher))
        return true;
    // As zephran-server runs: one pass after another, waiting without bound.
    while (!watcher.m_bDone)
        m_pLoop->RunOnce(-1);
    m_pLoop->Unwatch(link.Fd());
    return watcher.m_bFailed;
}
