#include "LoadSide.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "BenchClock.h"
#include "Loopback.h"
#include "Protocol.h"
#include "RawSignOn.h"

namespace {

// The load's own sockets must never be where a datagram is lost: 32 MiB
// each (the kernel doubles it), charged only for what is queued.
constexpr int kMemberBuffer = 32 << 20;
constexpr int kBatch = 64;                     // datagrams per recvmmsg
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kStallNs = 200 * kMs;   // no arrival: lines in flight are lost
constexpr std::int64_t kQuietNs = 1000 * kMs;  // no arrival after all was sent: done

// Member k's name, as the relayed lines carry it.
std::string MemberName(int k)
{
    char name[16];
    std::snprintf(name, sizeof name, "u%04d", k);
    return name;
}

}  // namespace

void FormatBenchLine(char* pOut, std::int32_t seq)
{
    std::snprintf(pOut, kBenchLineLength + 1, "%08d .............................", seq);
}

int FormatBenchRelay(char* pOut, int sender, std::int32_t seq)
{
    char line[kBenchLineLength + 1];
    FormatBenchLine(line, seq);
    const int len = std::snprintf(pOut, 64, "%c<u%04d> %s", HDR_CHAT, sender, line);
    return len + 1;  // with the zero byte, as it goes on the wire
}

CLoadSide::CLoadSide(int controlFd) : m_link(controlFd), m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {}

CLoadSide::~CLoadSide() { ::close(m_epoll); }

int CLoadSide::Run()
{
    CLoadCommand cmd;
    while (!m_link.Get(cmd)) {
        CLoadReport report;
        switch (cmd.op) {
        case ELoadOp::Open:
            if (Open(cmd.nMembers))
                return 1;
            report.nPorts = cmd.nMembers;
            m_link.Put(report);
            {
                std::vector<std::uint16_t> ports;
                for (int i = 0; i < cmd.nMembers; ++i)
                    ports.push_back(m_members[static_cast<std::size_t>(i)].port);
                m_link.PutBytes(ports.data(), ports.size() * sizeof ports[0]);
            }
            continue;
        case ELoadOp::SignOn:
            report = SignOn(cmd);
            break;
        case ELoadOp::Relay:
            report = Relay(cmd);
            break;
        case ELoadOp::Expect:
            report = Expect(cmd);
            break;
        case ELoadOp::Quit:
            return 0;
        }
        m_link.Put(report);
    }
    return 0;
}

bool CLoadSide::Open(int count)
{
    while (static_cast<int>(m_members.size()) < count) {
        CMember member;
        member.pSocket = std::make_unique<CLoopbackDatagram>();
        if (!member.pSocket->Bound()) {
            std::perror("load: socket");
            return true;
        }
        // As root the buffer may pass net.core.rmem_max; otherwise it is
        // capped there.
        member.pSocket->SetReceiveBuffer(kMemberBuffer);
        const int on = 1;
        ::setsockopt(member.pSocket->Fd(), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        member.port = member.pSocket->PortNetworkOrder();
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<std::uint32_t>(m_members.size());
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, member.pSocket->Fd(), &ev);
        m_members.push_back(std::move(member));
    }
    return false;
}

void CLoadSide::Reset(ECount what, int senders)
{
    // Whatever is left from an earlier phase (a shutdown datagram, lines of
    // a lossy burst that came late) is read and forgotten.
    m_counting = ECount::Nothing;
    while (Poll(0) > 0) {
    }
    m_counting = what;
    m_nSenders = senders;
    for (CMember& member : m_members) {
        member.lastSeq.assign(static_cast<std::size_t>(senders), -1);
        member.sent = 0;
        member.inFlight = 0;
    }
    m_expected = m_received = m_disordered = 0;
    m_lastNs = m_completeNs = m_startNs = 0;
}

int CLoadSide::Poll(int timeoutMs)
{
    epoll_event events[1024];
    const int ready = ::epoll_wait(m_epoll, events, 1024, timeoutMs);
    if (ready <= 0)
        return 0;

    static char buffers[kBatch][DATAGRAM_RECEIVE_SIZE + 1];
    static char controls[kBatch][CMSG_SPACE(sizeof(std::uint32_t))];
    static iovec iovs[kBatch];
    static mmsghdr msgs[kBatch];
    int total = 0;
    const std::int64_t receivedBefore = m_received;
    for (int e = 0; e < ready; ++e) {
        const int index = static_cast<int>(events[e].data.u32);
        CMember& member = m_members[static_cast<std::size_t>(index)];
        for (int i = 0; i < kBatch; ++i) {
            iovs[i] = {buffers[i], sizeof buffers[i]};
            msgs[i].msg_hdr = {};
            msgs[i].msg_hdr.msg_iov = &iovs[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_control = controls[i];
            msgs[i].msg_hdr.msg_controllen = sizeof controls[i];
        }
        const int got = ::recvmmsg(member.pSocket->Fd(), msgs, kBatch, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < got; ++i) {
            for (cmsghdr* pCmsg = CMSG_FIRSTHDR(&msgs[i].msg_hdr); pCmsg; pCmsg = CMSG_NXTHDR(&msgs[i].msg_hdr, pCmsg))
                if (pCmsg->cmsg_level == SOL_SOCKET && pCmsg->cmsg_type == SO_RXQ_OVFL)
                    std::memcpy(&member.drops, CMSG_DATA(pCmsg), sizeof member.drops);
            Count(index, buffers[i], static_cast<int>(msgs[i].msg_len));
        }
        total += got > 0 ? got : 0;
    }
    if (m_received != receivedBefore) {
        m_lastNs = NowNs();
        if (m_completeNs == 0 && m_expected > 0 && m_received >= m_expected)
            m_completeNs = m_lastNs;
    }
    return total;
}

void CLoadSide::Count(int index, const char* pData, int len)
{
    if (len < 2)
        return;
    if (m_counting == ECount::Joins) {
        static const char kJoined[] = " has joined the chat!";
        const std::string_view text(pData + 1, static_cast<std::size_t>(len - 2));
        if (pData[0] == HDR_NEW ||
            (pData[0] == HDR_CHAT && text.starts_with("* ") && text.ends_with(kJoined)))
            ++m_received;
        return;
    }
    if (m_counting != ECount::Relays || pData[0] != HDR_CHAT || pData[1] != '<')
        return;
    // "\x02<u%04d> %08d ..." : the sender's number, then the line's.
    int sender = -1, seq = -1;
    if (len < 17 || std::sscanf(pData + 2, "u%4d> %8d", &sender, &seq) != 2 || sender < 0 ||
        sender >= m_nSenders) {
        ++m_disordered;
        return;
    }
    CMember& member = m_members[static_cast<std::size_t>(index)];
    std::int32_t& last = member.lastSeq[static_cast<std::size_t>(sender)];
    // A gap is a loss, which the totals show; going back is disorder.
    if (seq <= last)
        ++m_disordered;
    last = seq;
    ++m_received;
    if (sender == index && member.inFlight > 0)
        --member.inFlight;
}

CLoadReport CLoadSide::Finish(std::int64_t cpuStart) const
{
    CLoadReport report;
    report.startNs = m_startNs;
    report.lastNs = m_completeNs != 0 ? m_completeNs : m_lastNs;
    report.cpuNs = CpuNs() - cpuStart;
    report.expected = m_expected;
    report.received = m_received;
    report.disordered = m_disordered;
    std::uint32_t drops = 0;
    for (const CMember& member : m_members)
        drops += member.drops;
    // The load must never be where lines go missing: say so loudly if it was.
    if (drops != 0)
        std::fprintf(stderr, "load: its own sockets dropped %u datagrams\n", drops);
    return report;
}

CLoadReport CLoadSide::SignOn(const CLoadCommand& cmd)
{
    Reset(ECount::Joins, 0);
    const std::int64_t n = cmd.nMembers;
    // Member k hears its own two announcements and those of everyone after it.
    m_expected = n * (n + 1);
    const std::int64_t cpuStart = CpuNs();
    m_startNs = NowNs();

    // Sign-ons block on their stream, so they run beside the receiving.
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::atomic<std::int64_t> signedNs{0};
    std::thread signer([&] {
        for (int k = 0; k < cmd.nMembers; ++k)
            if (CRawSignOn(CSignOnPlan{MemberName(k), m_members[static_cast<std::size_t>(k)].port}).Run() !=
                ESignOn::Completed)
                ++failures;
        signedNs = NowNs();
        done = true;
    });
    std::int64_t idleSince = NowNs();
    for (;;) {
        if (Poll(10) > 0)
            idleSince = NowNs();
        if (done && (m_received >= m_expected || NowNs() - idleSince > kQuietNs))
            break;
    }
    signer.join();
    CLoadReport report = Finish(cpuStart);
    report.signedNs = signedNs;
    report.nFailedSignOns = failures;
    return report;
}

void CLoadSide::FillSenders(const CLoadCommand& cmd)
{
    const sockaddr_in server = LoopbackAddress(BROADCAST_PORT);
    char datagram[kBenchLineLength + 2];
    datagram[0] = HDR_CHAT;
    for (int s = 0; s < cmd.nSenders; ++s) {
        CMember& member = m_members[static_cast<std::size_t>(s)];
        while (member.sent < cmd.nLines && (cmd.nWindow == 0 || member.inFlight < cmd.nWindow)) {
            FormatBenchLine(datagram + 1, member.sent);
            if (::sendto(member.pSocket->Fd(), datagram, sizeof datagram, MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr*>(&server), sizeof server) != static_cast<ssize_t>(sizeof datagram))
                break;  // tried again at the next fill
            ++member.sent;
            ++member.inFlight;
            // A burst goes out line by line from every sender in turn.
            if (cmd.nWindow == 0)
                break;
        }
    }
}

CLoadReport CLoadSide::Relay(const CLoadCommand& cmd)
{
    Reset(ECount::Relays, cmd.nSenders);
    m_expected = static_cast<std::int64_t>(cmd.nSenders) * cmd.nLines * cmd.nMembers;
    const std::int64_t cpuStart = CpuNs();
    m_startNs = NowNs();
    const std::int64_t total = static_cast<std::int64_t>(cmd.nSenders) * cmd.nLines;
    auto allSent = [&] {
        std::int64_t sent = 0;
        for (int s = 0; s < cmd.nSenders; ++s)
            sent += m_members[static_cast<std::size_t>(s)].sent;
        return sent >= total;
    };
    if (cmd.nWindow == 0)
        while (!allSent())
            FillSenders(cmd);
    else
        FillSenders(cmd);

    std::int64_t idleSince = NowNs();
    while (m_received < m_expected) {
        if (Poll(10) > 0) {
            idleSince = NowNs();
            FillSenders(cmd);
            continue;
        }
        const std::int64_t idle = NowNs() - idleSince;
        if (allSent() ? idle > kQuietNs : idle > kStallNs) {
            if (allSent())
                break;
            // Nothing comes back: what is in flight was lost on the way.
            for (int s = 0; s < cmd.nSenders; ++s)
                m_members[static_cast<std::size_t>(s)].inFlight = 0;
            FillSenders(cmd);
            idleSince = NowNs();
        }
    }
    return Finish(cpuStart);
}

CLoadReport CLoadSide::Expect(const CLoadCommand& cmd)
{
    Reset(ECount::Relays, 1);
    m_expected = static_cast<std::int64_t>(cmd.nLines) * cmd.nMembers;
    const std::int64_t cpuStart = CpuNs();
    CLoadReport ready;
    ready.bReady = true;
    m_link.Put(ready);

    std::int64_t idleSince = NowNs();
    while (m_received < m_expected) {
        if (Poll(10) > 0)
            idleSince = NowNs();
        else if (NowNs() - idleSince > 2 * kQuietNs)
            break;
    }
    return Finish(cpuStart);
}
