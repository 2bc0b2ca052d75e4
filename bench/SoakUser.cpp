#include "SoakUser.h"

#include <sys/socket.h>

#include <charconv>
#include <cstdio>

#include "Protocol.h"
#include "RawSignOn.h"
#include "Wire.h"

namespace {

// Room for every datagram the soak's window lets pile up, many times over.
constexpr int kReceiveBuffer = 2 << 20;

std::string UserName(int index)
{
    char name[16];
    std::snprintf(name, sizeof name, "u%03d", index);
    return name;
}

template <typename T>
bool ReadNumber(std::string_view& text, T& value, int base)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end == text.data())
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool Skip(std::string_view& text, std::string_view expected)
{
    if (text.substr(0, expected.size()) != expected)
        return false;
    text.remove_prefix(expected.size());
    return true;
}

}  // namespace

std::uint32_t LineHash(std::string_view payload)
{
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : payload)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

CSoakUser::CSoakUser(int index) : m_index(index), m_name(UserName(index)) {}

CSoakUser::~CSoakUser() { Close(); }

void CSoakUser::Close()
{
    m_pUdp.reset();
    m_missing.clear();
}

bool CSoakUser::SignOn(std::uint64_t nextSeq)
{
    m_pUdp = std::make_unique<CLoopbackDatagram>();
    m_pUdp->SetReceiveBuffer(kReceiveBuffer);
    if (!m_pUdp->Bound() ||
        CRawSignOn(CSignOnPlan{m_name, m_pUdp->PortNetworkOrder()}).Run() != ESignOn::Completed) {
        Close();
        return true;
    }
    ++m_signOns;
    m_state = EState::In;
    m_joinSeq = m_next = nextSeq;
    return false;
}

void CSoakUser::SendLine(std::uint64_t seq, const std::string& payload)
{
    char head[48];
    std::snprintf(head, sizeof head, "L%llu %08x ", static_cast<unsigned long long>(seq), LineHash(payload));
    m_pUdp->SendToServer(FormatChat(head + payload) + '\0');
}

void CSoakUser::StartLeave(std::uint64_t nextSeq)
{
    m_pUdp->SendToServer(FormatBare(HDR_LEAVE) + '\0');
    m_state = EState::Leaving;
    m_leaveSeq = nextSeq;
}

void CSoakUser::EndLeave()
{
    Settle(m_leaveSeq);
    Close();
    m_state = EState::Out;
}

void CSoakUser::Settle(std::uint64_t seq)
{
    while (!m_missing.empty() && *m_missing.begin() < seq) {
        m_missing.erase(m_missing.begin());
        ++m_lost;
    }
    if (m_next < seq) {
        m_lost += seq - m_next;
        m_next = seq;
    }
}

void CSoakUser::Drain(const std::vector<CSoakLine>& lines)
{
    static char buf[65536];
    const std::string leaveLine = FormatLeaveLine(m_name).substr(1);
    while (m_pUdp) {
        const ssize_t n = ::recv(m_pUdp->Fd(), buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            return;
        if (n > DATAGRAM_RECEIVE_SIZE) {
            ++m_oversize;
            continue;
        }
        const std::string_view datagram(buf, static_cast<std::size_t>(n));
        switch (datagram.empty() ? -1 : DatagramType(datagram)) {
        case HDR_NEW:
        case HDR_LEAVE:
            break;
        case HDR_CHAT:
            // The server's leave line to the leaver comes after everything it
            // relayed before the leave: nothing more is owed.
            if (m_state == EState::Leaving && DatagramText(datagram) == leaveLine) {
                EndLeave();
                return;
            }
            OnLine(DatagramText(datagram), lines);
            break;
        case HDR_SHUTDOWN:
            ++m_shutdowns;
            break;
        default:
            ++m_odd;
            break;
        }
    }
}

void CSoakUser::OnLine(std::string_view text, const std::vector<CSoakLine>& lines)
{
    if (text.substr(0, 2) == "* ")
        return;  // a join or leave line
    const std::size_t close = text.find("> ");
    if (text.substr(0, 2) == "<h" && close != std::string_view::npos) {
        ++m_foreign;
        return;
    }
    // "<uNNN> L<seq> <hash> <payload>"
    std::uint64_t seq = 0;
    std::uint32_t hash = 0;
    std::string_view rest = text;
    std::string_view sender;
    if (close != std::string_view::npos) {
        sender = text.substr(1, close - 1);
        rest.remove_prefix(close + 2);
    }
    if (close == std::string_view::npos || !Skip(rest, "L") || !ReadNumber(rest, seq, 10) || !Skip(rest, " ") ||
        !ReadNumber(rest, hash, 16) || !Skip(rest, " ") || seq >= lines.size()) {
        ++m_damaged;
        return;
    }
    const CSoakLine& line = lines[seq];
    if (sender != UserName(line.sender) || rest.size() != line.size || LineHash(rest) != line.hash || hash != line.hash) {
        ++m_damaged;
        return;
    }
    if (seq < m_joinSeq) {
        ++m_early;
    } else if (seq >= m_next) {
        for (std::uint64_t gap = m_next; gap < seq; ++gap)
            m_missing.insert(gap);
        m_next = seq + 1;
        ++m_received;
    } else if (m_missing.erase(seq) == 1) {
        ++m_received;
    } else {
        ++m_duplicates;
    }
}
