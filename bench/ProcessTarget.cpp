#include "ProcessTarget.h"

#include "BenchClock.h"

CProcessTarget::CProcessTarget(std::string program) : m_program(std::move(program))
{
    // Builds from before flood control know no --flood-limit and limit nothing.
    CServerProcess help(m_program);
    if (!help.Start(CServerProcess::EOutput::Capture, {"--help"}) && help.Wait() >= 0 &&
        help.Stdout().find("--flood-limit") != std::string::npos)
        m_relayArgs = {"--flood-limit", "off"};
}

bool CProcessTarget::Serve(const std::function<void()>& steps)
{
    CServerProcess server(m_program);
    if (server.StartListening(CServerProcess::EOutput::Discard, m_relayArgs))
        return true;
    m_pRunning = &server;
    steps();
    m_pRunning = nullptr;
    return false;
}

bool CProcessTarget::Await(CLoadLink& link, CLoadReport& report) { return link.Get(report); }

std::int64_t CProcessTarget::ServerCpuNs() const { return m_pRunning ? ProcessCpuNs(m_pRunning->Pid()) : 0; }
