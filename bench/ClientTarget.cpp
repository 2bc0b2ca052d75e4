#include "ClientTarget.h"

#include <arpa/inet.h>

#include <cstdio>

#include "BenchClock.h"
#include "ChatClient.h"
#include "ClientView.h"
#include "Loopback.h"
#include "PollLoop.h"
#include "ReportWait.h"

bool IsBenchRelay(const char* pText) { return pText[0] == '<' && pText[1] == 'u'; }

void CClientTarget::BeginCount()
{
    m_nShown = 0;
    m_lastShownNs = NowNs();
}

void CClientTarget::CountShown(std::int64_t lines)
{
    m_nShown += lines;
    m_lastShownNs = NowNs();
}

class CHeadlessClient::CCountingView : public IClientView {
public:
    explicit CCountingView(CHeadlessClient& target) : m_target(target) {}
    void AppendLog(const std::string& text) override
    {
        if (IsBenchRelay(text.c_str()))
            m_target.CountShown(1);
    }
    void UpdateUserList(CUserList&) override {}
    void ClearUserList() override {}
    void UpdateTraffic() override {}
    void ShowMessage(const std::string& text) override { std::fprintf(stderr, "client: %s\n", text.c_str()); }
    void OnRoomLine() override {}

private:
    CHeadlessClient& m_target;
};

bool CHeadlessClient::Serve(const std::function<void()>& steps)
{
    CPollLoop loop;
    CCountingView view(*this);
    CChatClient client;
    client.Init(&view);
    if (client.Logon(LoopbackAddressOnly(), kBenchClientName))
        return true;
    m_pLoop = &loop;
    steps();
    m_pLoop = nullptr;
    return false;
}

bool CHeadlessClient::Await(CLoadLink& link, CLoadReport& report) { return AwaitReport(*m_pLoop, link, report); }

void CHeadlessClient::Settle(std::int64_t lines, int quietMs)
{
    while (Shown() < lines && NowNs() - LastShownNs() < quietMs * 1'000'000LL && m_pLoop->RunOnce(10) >= 0) {
    }
}
