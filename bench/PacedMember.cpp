#include "PacedMember.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "BenchClock.h"
#include "Protocol.h"
#include "RawSignOn.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kLateNs = 100 * kMs;
// The member's own socket must never be where a line is lost: a server that
// was held relays everything it queued meanwhile at once.
constexpr int kReceiveBuffer = 32 << 20;

}  // namespace

CPacedMember::CPacedMember(std::string name, std::int64_t gapNs) : m_name(std::move(name)), m_nGapNs(gapNs)
{
    m_socket.SetReceiveBuffer(kReceiveBuffer);
}

bool CPacedMember::SignOn()
{
    return !m_socket.Bound() || m_socket.Connect(BROADCAST_PORT) ||
           CRawSignOn(CSignOnPlan{m_name, m_socket.PortNetworkOrder()}).Run() != ESignOn::Completed;
}

std::int64_t CPacedMember::Step()
{
    const std::int64_t now = NowNs();
    if (m_nNextNs == 0)
        m_nNextNs = now;
    if (now >= m_nNextNs) {
        char line[64];
        const int n = std::snprintf(line, sizeof line, "%c%08zu ..............................", HDR_CHAT,
                                    m_sentNs.size());
        m_sentNs.push_back(NowNs());
        m_delayNs.push_back(-1);
        ::send(m_socket.Fd(), line, static_cast<std::size_t>(n) + 1, MSG_DONTWAIT);
        m_nNextNs += m_nGapNs;
    }
    ReadRelays();
    return std::max<std::int64_t>(0, m_nNextNs - NowNs());
}

void CPacedMember::Drain(std::int64_t limitNs)
{
    const std::int64_t end = NowNs() + limitNs;
    while (std::count(m_delayNs.begin(), m_delayNs.end(), -1) > 0 && NowNs() < end) {
        pollfd p{m_socket.Fd(), POLLIN, 0};
        ::poll(&p, 1, 50);
        ReadRelays();
    }
}

void CPacedMember::ReadRelays()
{
    const std::string relayHead = std::string(1, HDR_CHAT) + "<" + m_name + "> ";
    char buf[600];
    ssize_t n;
    while ((n = ::recv(m_socket.Fd(), buf, sizeof buf - 1, MSG_DONTWAIT)) > 0) {
        buf[n] = '\0';
        if (std::strncmp(buf, relayHead.c_str(), relayHead.size()) != 0)
            continue;  // announcements, and other members' lines
        const long seq = std::strtol(buf + relayHead.size(), nullptr, 10);
        if (seq >= 0 && seq < static_cast<long>(m_sentNs.size()) && m_delayNs[static_cast<std::size_t>(seq)] < 0)
            m_delayNs[static_cast<std::size_t>(seq)] = NowNs() - m_sentNs[static_cast<std::size_t>(seq)];
    }
}

CLineStats CPacedMember::Stats() const
{
    CLineStats stats;
    stats.lines = static_cast<int>(m_sentNs.size());
    for (std::int64_t delay : m_delayNs) {
        stats.lost += delay < 0 ? 1 : 0;
        stats.late += delay < 0 || delay > kLateNs ? 1 : 0;
        stats.worstNs = std::max(stats.worstNs, delay);
    }
    return stats;
}
