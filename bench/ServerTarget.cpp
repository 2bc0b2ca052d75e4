#include "ServerTarget.h"

#include <cstdio>

#include "ReportWait.h"

CServerLimits RelayLimits()
{
    CServerLimits limits;
    limits.flood.bOn = false;
    limits.log.bOn = false;
    return limits;
}

void CHeadlessTarget::CNullView::ShowMessage(const std::string& text)
{
    std::fprintf(stderr, "server: %s\n", text.c_str());
}

bool CHeadlessTarget::Serve(const std::function<void()>& steps)
{
    CPollLoop loop;
    CNullView view;
    CChatServer server;
    server.SetLimits(RelayLimits());
    if (server.Start(&view))
        return true;
    m_pLoop = &loop;
    steps();
    m_pLoop = nullptr;
    return false;
}

bool CHeadlessTarget::Await(CLoadLink& link, CLoadReport& report) { return AwaitReport(*m_pLoop, link, report); }
