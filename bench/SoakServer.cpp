#include "SoakServer.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

bool StartsWith(const std::string& line, const char* pPrefix)
{
    return line.compare(0, std::strlen(pPrefix), pPrefix) == 0;
}

}  // namespace

CSoakServer::~CSoakServer()
{
    if (Running())
        Stop(0);
    m_process.Kill();
    if (m_reader.joinable())
        m_reader.join();  // the log ends with the process
}

bool CSoakServer::Start()
{
    // Under AddressSanitizer freed memory waits in a quarantine of 256 MiB
    // before it is used again, which would read as growth for minutes. A
    // small one still catches a use after free of recent memory, and lets
    // the server's memory settle. Other sanitizer options pass through.
    const char* pOptions = std::getenv("ASAN_OPTIONS");
    const std::string options = pOptions ? pOptions : "";
    if (options.find("quarantine_size_mb") == std::string::npos)
        m_process.SetEnvironment("ASAN_OPTIONS", options + (options.empty() ? "" : ":") + "quarantine_size_mb=4");
    if (m_process.StartListening(CServerProcess::EOutput::Capture))
        return true;
    m_reader = std::thread([this] { ReadLog(); });
    return false;
}

long CSoakServer::RssKiB() const
{
    std::ifstream status("/proc/" + std::to_string(m_process.Pid()) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (StartsWith(line, "VmRSS:"))
            return std::stol(line.substr(6));
    return -1;
}

bool CSoakServer::Sanitized() const
{
    std::ifstream maps("/proc/" + std::to_string(m_process.Pid()) + "/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libasan") != std::string::npos)
            return true;
    return false;
}

int CSoakServer::Stop(int waitMs)
{
    if (Running())
        m_process.Signal(SIGTERM);
    for (int waited = 0; Running() && waited < waitMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Running() && m_reader.joinable())
        m_reader.join();  // the log ends with the process
    return m_process.Status();
}

void CSoakServer::ReadLog()
{
    std::string pending;
    while (m_process.ReadOutput(100)) {
        pending += m_process.TakeStdout();
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            Count(pending.substr(start, end - start));
        pending.erase(0, start);
    }
}

void CSoakServer::Count(const std::string& line)
{
    unsigned long long n = 0;
    if (line.find(" log lines dropped") != std::string::npos && std::sscanf(line.c_str(), "%llu", &n) == 1) {
        m_log.dropped += n;
        return;
    }
    // The log escapes every control byte: a relayed line starts with the
    // four characters \x02, an announcement with \x01 or \x03.
    if (StartsWith(line, "\\x02<")) {
        ++m_log.relayed;
        return;
    }
    if (StartsWith(line, "\\x01") || StartsWith(line, "\\x02* ") || StartsWith(line, "\\x03") ||
        StartsWith(line, "\\x04"))
        return;
    m_log.peerBytes += line.size() + 1;
    if (StartsWith(line, "... ")) {
        // "... 1,024 lines about 10.0.0.7 not logged"
        for (std::size_t i = 4; i < line.size() && line[i] != ' '; ++i)
            if (line[i] != ',')
                n = n * 10 + static_cast<unsigned>(line[i] - '0');
        m_log.heldBack += n;
    } else if (StartsWith(line, "New Connection Accepted from: "))
        ++m_log.accepted;
    else if (StartsWith(line, "Sign-on from "))
        ++m_log.abandoned;
    else if (StartsWith(line, "  Version 2 Failed..."))
        ++m_log.refused;
    else if (line == "Recieve Error!")
        ++m_log.receiveErrors;
    else if (line == "packet detected from unknown user not signed on!")
        ++m_log.strangers;
    else if (StartsWith(line, "Unkown packet of type "))
        ++m_log.unknownTypes;
    else if (StartsWith(line, "HDR_NEW is an illegal packet type"))
        ++m_log.illegalNew;
    else if (StartsWith(line, "Error: "))
        ++m_log.sendErrors;
}
