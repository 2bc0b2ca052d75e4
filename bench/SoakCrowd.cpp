#include "SoakCrowd.h"

#include <sys/socket.h>

#include "Protocol.h"
#include "RawSignOn.h"

namespace {

// Members that vanish for good, without a sign-off: they stay in the room,
// and the server goes on sending to them. They keep their port, as a machine
// that went away would: were it free, a new user's socket could get it and
// then share the ghost's record, receiving every line twice.
constexpr int kGhosts = 2;

}  // namespace

CSoakCrowd::CSoakCrowd(int members, unsigned seed) : m_random(seed)
{
    for (int i = 0; i < members; ++i) {
        CMember member;
        // Any bytes at all after the 'h' that tells the soak's users whose
        // lines these are.
        member.name = "h" + std::to_string(i) + Bytes(m_random() % 24);
        member.pUdp = std::make_unique<CLoopbackDatagram>();
        member.bDeaf = i % 4 == 1;
        m_members.push_back(std::move(member));
    }
}

CSoakCrowd::~CSoakCrowd() { Join(); }

void CSoakCrowd::Start(Clock::time_point until)
{
    m_thread = std::thread([this, until] { Run(until); });
}

void CSoakCrowd::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::string CSoakCrowd::Bytes(std::size_t size)
{
    std::string bytes(size, ' ');
    for (char& c : bytes) {
        // No zero, which would end the text, and no line break, which would
        // make the server's log lines ambiguous to count.
        do
            c = static_cast<char>(m_random());
        while (c == '\0' || c == '\n');
    }
    return bytes;
}

void CSoakCrowd::SignOnMember(CMember& member)
{
    if (CRawSignOn(CSignOnPlan{member.name, member.pUdp->PortNetworkOrder()}).Run() == ESignOn::Completed) {
        member.bIn = true;
        ++m_counts.signOns;
    } else {
        ++m_counts.failed;
        member.rejoinAt = Clock::now() + std::chrono::milliseconds(500);
    }
}

void CSoakCrowd::VanishHalfWay()
{
    CSignOnPlan plan;
    plan.name = "v" + Bytes(m_random() % 40);
    plan.portNet = static_cast<std::uint16_t>(m_random());
    plan.vanish = static_cast<EVanish>(1 + m_random() % (kVanishStages - 1));
    plan.bReset = m_random() % 2 == 0;
    // A stall holds the server, which serves one sign-on at a time: rare.
    plan.stallMs = m_random() % 100 == 0 ? 20 + static_cast<int>(m_random() % 180) : 0;
    switch (CRawSignOn(plan).Run()) {
    case ESignOn::Vanished:
        ++m_counts.vanished;
        break;
    default:
        ++m_counts.failed;
        break;
    }
}

void CSoakCrowd::Act(CMember& member)
{
    const unsigned roll = m_random() % 100;
    if (roll < 30) {
        // A type the server does not relay: unknown, HDR_NEW or HDR_SHUTDOWN.
        char type;
        do
            type = static_cast<char>(m_random());
        while (type == HDR_CHAT || type == HDR_LEAVE || type == HDR_PING);
        std::string datagram = type + Bytes(m_random() % 60);
        if (m_random() % 2)
            datagram += '\0' + Bytes(m_random() % 20);
        member.pUdp->SendToServer(datagram);
        ++m_counts.garbage;
    } else if (roll < 40) {
        const std::size_t size = m_random() % 20 == 0 ? 65000 : 512 + m_random() % 1500;
        member.pUdp->SendToServer(static_cast<char>(m_random()) + Bytes(size - 1));
        ++m_counts.oversize;
    } else if (roll < 45) {
        member.pUdp->SendToServer(std::string());
        ++m_counts.empty;
    } else if (roll < 55) {
        member.pUdp->SendToServer(std::string(1, HDR_PING) + (m_random() % 2 ? std::string(1, '\0') : Bytes(5)));
        ++m_counts.pings;
    } else if (roll < 58) {
        // Up to the longest chat a client may send; its relay may be too long
        // for a client to receive, which the server does not check.
        member.pUdp->SendToServer(HDR_CHAT + Bytes(1 + m_random() % 509) + '\0');
        ++m_counts.chats;
    } else if (roll < 68) {
        m_stranger.SendToServer(static_cast<char>(m_random() % 8) + Bytes(m_random() % 40) + '\0');
        ++m_counts.strangers;
    } else if (roll < 70) {
        member.pUdp->SendToServer(HDR_LEAVE + Bytes(m_random() % 20) + '\0');
        member.bIn = false;
        member.rejoinAt = Clock::now() + std::chrono::milliseconds(200 + m_random() % 1800);
        ++m_counts.leaves;
    } else if (roll < 85) {
        VanishHalfWay();
    } else if (roll < 90) {
        CSignOnPlan plan{"old" + Bytes(m_random() % 10), member.pUdp->PortNetworkOrder()};
        do
            plan.version = static_cast<unsigned char>(m_random());
        while (plan.version == PROTOCOL_VERSION);
        if (CRawSignOn(plan).Run() == ESignOn::Refused)
            ++m_counts.refused;
        else
            ++m_counts.failed;
    }
}

void CSoakCrowd::Run(Clock::time_point until)
{
    for (CMember& member : m_members)
        SignOnMember(member);
    for (int i = 0; i < kGhosts && i < static_cast<int>(m_members.size()); ++i) {
        m_members[static_cast<std::size_t>(i)].bGhost = true;
        m_members[static_cast<std::size_t>(i)].bDeaf = true;
    }

    static char sink[65536];
    while (Clock::now() < until) {
        CMember& member = m_members[m_random() % m_members.size()];
        if (member.bIn && !member.bGhost)
            Act(member);
        else if (!member.bIn && Clock::now() >= member.rejoinAt)
            SignOnMember(member);
        for (CMember& reader : m_members)
            while (!reader.bDeaf && ::recv(reader.pUdp->Fd(), sink, sizeof sink, MSG_DONTWAIT) >= 0) {
            }
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + m_random() % 2000));
    }
}
