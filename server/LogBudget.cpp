#include "LogBudget.h"

#include <arpa/inet.h>

#include <algorithm>

#include "Grouped.h"

namespace {

// Past the cap, lines about a new address share one budget.
constexpr std::size_t kMaxAddresses = 65536;

std::string Lines(std::uint64_t n) { return Grouped(n) + (n == 1 ? " line" : " lines"); }

}  // namespace

CLogBudget::CLogBudget() : CLogBudget(CSettings{}) {}

CLogBudget::CAddress& CLogBudget::Of(in_addr_t address, Clock::time_point now)
{
    if (const auto it = m_addresses.find(address); it != m_addresses.end())
        return it->second;
    // Swept when the table has doubled since the last sweep, so that a flood
    // of new addresses costs each line little.
    if (m_addresses.size() >= m_nSweepAt) {
        for (auto it = m_addresses.begin(); it != m_addresses.end();)
            it = it->second.heldBack == 0 && it->second.lines.Full(now) ? m_addresses.erase(it) : std::next(it);
        m_nSweepAt = std::max(kSweepAbove, 2 * m_addresses.size());
    }
    if (m_addresses.size() >= kMaxAddresses)
        return m_others;
    return m_addresses.try_emplace(address, CAddress{{m_settings.burstLines, m_settings.linesPerSecond, now}}).first->second;
}

bool CLogBudget::Admit(in_addr_t address, std::size_t bytes, Clock::time_point now)
{
    if (!m_settings.bOn)
        return true;
    CAddress& from = Of(address, now);
    const auto cost = static_cast<double>(bytes);
    if (m_total.Has(cost, now) && from.lines.Take(1, now)) {
        static_cast<void>(m_total.Take(cost, now));
        return true;
    }
    ++from.heldBack;
    ++m_nHeldBack;
    return false;
}

std::vector<std::string> CLogBudget::TakeSummaries()
{
    std::vector<std::pair<std::uint64_t, in_addr_t>> held;
    for (auto& [address, entry] : m_addresses)
        if (entry.heldBack > 0) {
            held.emplace_back(entry.heldBack, address);
            entry.heldBack = 0;
        }
    const std::size_t shown = std::min(held.size(), kMaxSummaries);
    std::partial_sort(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(shown), held.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < shown; ++i) {
        in_addr address{held[i].second};
        lines.push_back("... " + Lines(held[i].first) + " about " + ::inet_ntoa(address) + " not logged");
    }
    std::uint64_t rest = m_others.heldBack;
    for (std::size_t i = shown; i < held.size(); ++i)
        rest += held[i].first;
    if (rest > 0)
        lines.push_back("... " + Lines(rest) + " about other addresses not logged");
    m_others.heldBack = 0;
    m_nHeldBack = 0;
    return lines;
}
