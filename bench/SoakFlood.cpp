#include "SoakFlood.h"

#include <sys/socket.h>

#include <cstring>

#include "Protocol.h"
#include "RawSignOn.h"

namespace {

// An 'h' first, as the soak's users tell hostile senders' lines.
constexpr char kName[] = "hflood";
// Each flood comes from an address of its own, as from a machine of its own:
// the log's budget of the soak's users' address is theirs alone.
constexpr char kMemberAddress[] = "127.0.0.2";
constexpr char kStrangerAddress[] = "127.0.0.3";
constexpr int kStrangerPorts = 16;
// The server's default flood limit: a burst, then a rate.
constexpr double kBurst = 100, kPerSecond = 50;

}  // namespace

CSoakFlood::CSoakFlood(int rate, unsigned seed, CFloodPlan plan)
    : m_nRate(rate), m_plan(plan), m_random(seed), m_member(0, kMemberAddress)
{
    m_member.SetReceiveBuffer(8 << 20);
    for (int i = 0; i < kStrangerPorts; ++i)
        m_strangers.push_back(std::make_unique<CLoopbackDatagram>(0, kStrangerAddress));
}

CSoakFlood::~CSoakFlood() { Join(); }

void CSoakFlood::Start(Clock::time_point until)
{
    m_thread = std::thread([this, until] { Run(until); });
}

void CSoakFlood::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

double CSoakFlood::Allowed() const { return kBurst + kPerSecond * m_seconds; }

std::string CSoakFlood::Datagram()
{
    // Every kind, with texts that never repeat: lines, pings, unknown types.
    const unsigned kind = m_random() % 4;
    const char type = kind == 0 ? HDR_CHAT : kind == 1 ? HDR_PING : static_cast<char>(6 + m_random() % 200);
    std::string datagram(1 + m_random() % 120, ' ');
    datagram[0] = type;
    for (std::size_t i = 1; i < datagram.size(); ++i)
        datagram[i] = static_cast<char>('!' + m_random() % 90);
    return datagram + '\0';
}

void CSoakFlood::Drain()
{
    static const std::string relay = std::string(1, HDR_CHAT) + "<" + kName + "> ";
    static const std::string notice = std::string(1, HDR_CHAT) + "* Slow down: ";
    char buf[600];
    ssize_t n;
    while ((n = ::recv(m_member.Fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        const std::string_view datagram(buf, static_cast<std::size_t>(n));
        if (datagram.starts_with(relay))
            ++m_counts.memberRelayed;
        else if (datagram.starts_with(notice))
            ++m_counts.notices;
    }
}

void CSoakFlood::Run(Clock::time_point until)
{
    CSignOnPlan plan{kName, m_member.PortNetworkOrder()};
    plan.from = kMemberAddress;
    if (m_plan.bMember && CRawSignOn(plan).Run() != ESignOn::Completed)
        return;
    m_counts.bSignedOn = m_plan.bMember;
    const auto start = Clock::now();
    const auto gap = std::chrono::nanoseconds(1'000'000'000 / m_nRate);
    auto next = start;
    std::uint64_t sent = 0;
    while (Clock::now() < until) {
        if (m_plan.bMember)
            m_member.SendToServer(Datagram());
        if (m_plan.bStranger) {
            std::string datagram = Datagram();
            if (m_plan.bOversized && sent % 2 == 0)
                datagram.resize(DATAGRAM_RECEIVE_SIZE + 1 + m_random() % 100, 'x');
            m_strangers[sent % m_strangers.size()]->SendToServer(datagram);
        }
        ++sent;
        m_counts.memberSent = m_plan.bMember ? sent : 0;
        m_counts.strangerSent = m_plan.bStranger ? sent : 0;
        if (sent % 64 == 0)
            Drain();
        next += gap;
        if (next > Clock::now())
            std::this_thread::sleep_until(next);
    }
    m_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // What the room relayed before the end comes in now.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Drain();
}
