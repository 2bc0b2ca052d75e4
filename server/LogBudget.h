#pragma once
// How much of the log peers may cause. Lines about one address come in a
// burst of up to burstLines, written whole so that a short episode reads as
// it happened, and then at linesPerSecond; lines about every address together
// are held to totalBytesPerSecond. A line over either budget is not written
// but counted for its address, and the counts come back as summary lines,
// the largest first. No number of addresses, ports or different texts gets
// past it. Pure: the caller says what time it is. Owns its tables.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "TokenBucket.h"

class CLogBudget {
public:
    using Clock = std::chrono::steady_clock;

    struct CSettings {
        bool bOn = true;  // off: every line is written
        double burstLines = 100;
        double linesPerSecond = 5;
        double totalBurstBytes = 64 * 1024;
        double totalBytesPerSecond = 10 * 1024;
    };
    // Summary lines at most, the largest counts first; the rest share one.
    static constexpr std::size_t kMaxSummaries = 10;

    CLogBudget();
    explicit CLogBudget(const CSettings& settings) : m_settings(settings) {}

    // Whether a line of bytes about address may be written at now. If not,
    // it is counted for address.
    [[nodiscard]] bool Admit(in_addr_t address, std::size_t bytes, Clock::time_point now);
    // Lines that say how many were not written, and about whom, since the
    // last call: "... 1,024 lines about 10.0.0.7 not logged".
    [[nodiscard]] std::vector<std::string> TakeSummaries();
    bool HasHeldBack() const { return m_nHeldBack > 0; }

private:
    struct CAddress {
        CTokenBucket lines;
        std::uint64_t heldBack = 0;
    };

    // The budget of address, made at now if it has none; when too many
    // addresses have one, a new one shares m_others.
    CAddress& Of(in_addr_t address, Clock::time_point now);

    CSettings m_settings;
    CTokenBucket m_total{m_settings.totalBurstBytes, m_settings.totalBytesPerSecond, Clock::time_point{}};
    std::unordered_map<in_addr_t, CAddress> m_addresses;
    CAddress m_others{{m_settings.burstLines, m_settings.linesPerSecond, Clock::time_point{}}};
    std::uint64_t m_nHeldBack = 0;  // in all, since the last summaries
    // Addresses with a budget of their own may pile up to this many before
    // those with nothing held back and a full budget are swept out.
    static constexpr std::size_t kSweepAbove = 1024;
    std::size_t m_nSweepAt = kSweepAbove;
};
