#pragma once
// A server program under measurement, seen only through its ports: a fresh
// zephran-server child process (this build's, or another build's, as for a
// before-and-after comparison) for the length of some steps. Its relay is
// measured with flood control off where the program has it. Owns the child
// for the length of Serve.

#include <string>
#include <vector>

#include "ServerProcess.h"
#include "ServerTarget.h"

class CProcessTarget : public CServerTarget {
public:
    explicit CProcessTarget(std::string program);

    const char* Name() const override { return "server process"; }
    bool Serve(const std::function<void()>& steps) override;
    bool Await(CLoadLink& link, CLoadReport& report) override;
    std::int64_t ServerCpuNs() const override;
    bool InProcess() const override { return false; }

private:
    std::string m_program;
    std::vector<std::string> m_relayArgs;  // flood control off, if the program takes the option
    CServerProcess* m_pRunning = nullptr;
};
