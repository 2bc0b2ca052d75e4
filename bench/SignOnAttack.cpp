#include "SignOnAttack.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "BenchClock.h"
#include "Loopback.h"
#include "Protocol.h"
#include "Wire.h"

namespace {

constexpr std::int64_t kResetAfterHelloNs = 1'900'000'000;  // the server gives 2 s after the hello
constexpr int kPollMs = 5;

}  // namespace

std::string CSignOnAttack::Address(int index) { return "127.0.1." + std::to_string(index + 1); }

const char* CSignOnAttack::Name(EAttack kind)
{
    switch (kind) {
    case EAttack::Silent:
        return "silent";
    case EAttack::Stalled:
        return "stalled";
    case EAttack::ResetAt1900:
        return "reset 1.9 s";
    case EAttack::HellosAtOnce:
        return "hellos at once";
    }
    return "";
}

void CSignOnAttack::Start()
{
    for (int a = 0; a < m_plan.addresses; ++a)
        for (int i = 0; i < m_plan.perAddress; ++i)
            m_connections.push_back({a});
    m_thread = std::thread([this] { Run(); });
}

void CSignOnAttack::Stop()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (CConnection& c : m_connections)
        Close(c, false);
}

void CSignOnAttack::Open(CConnection& c) const
{
    c.bConnected = false;
    c.helloNs = 0;
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, Address(c.address).c_str(), &from.sin_addr);
    const sockaddr_in to = LoopbackAddress(SIGNON_PORT);
    if (c.fd >= 0 && (::bind(c.fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
                      (::connect(c.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0 && errno != EINPROGRESS)))
        Close(c, false);  // tried again on the next pass
}

void CSignOnAttack::Close(CConnection& c, bool bReset) const
{
    if (c.fd < 0)
        return;
    if (bReset) {
        const linger abort{1, 0};
        ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(c.fd);
    c.fd = -1;
}

bool CSignOnAttack::SendHello(CConnection& c, int number) const
{
    const std::string hello = EncodeHello("x" + std::to_string(number));
    if (::send(c.fd, hello.data(), hello.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(hello.size()))
        return false;
    c.helloNs = NowNs();
    return true;
}

bool CSignOnAttack::GroupReady(int address) const
{
    for (const CConnection& c : m_connections)
        if (c.address == address && (c.fd < 0 || !c.bConnected || c.helloNs != 0))
            return false;
    return true;
}

bool CSignOnAttack::GroupClosed(int address) const
{
    for (const CConnection& c : m_connections)
        if (c.address == address && c.fd >= 0)
            return false;
    return true;
}

void CSignOnAttack::Run()
{
    const bool bHello = m_plan.kind != EAttack::Silent;
    const bool bGroups = m_plan.kind == EAttack::HellosAtOnce;
    std::vector<pollfd> fds;
    while (!m_bStop) {
        // Reopen what the server closed; a group only once all of it is closed.
        for (int a = 0; a < m_plan.addresses; ++a) {
            const bool bGroupClosed = bGroups && GroupClosed(a);
            for (CConnection& c : m_connections)
                if (c.address == a && c.fd < 0 && (!bGroups || bGroupClosed))
                    Open(c);
        }
        fds.clear();
        for (const CConnection& c : m_connections)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (bHello && !c.bConnected ? POLLOUT : 0)), 0});
        ::poll(fds.data(), fds.size(), kPollMs);
        const std::int64_t now = NowNs();
        for (std::size_t i = 0; i < fds.size(); ++i) {
            CConnection& c = m_connections[i];
            if (c.fd < 0)
                continue;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                // What the server sends (verdict, room, probe) is read and never answered.
                char buf[4096];
                ssize_t n;
                while ((n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
                }
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    Close(c, false);
                    ++m_nDropped;
                    continue;
                }
            }
            if (fds[i].revents & POLLOUT)
                c.bConnected = true;
            if (bHello && !bGroups && c.bConnected && c.helloNs == 0)
                SendHello(c, static_cast<int>(i));
            if (m_plan.kind == EAttack::ResetAt1900 && c.helloNs != 0 && now - c.helloNs >= kResetAfterHelloNs) {
                Close(c, true);
                ++m_nResets;
            }
        }
        if (bGroups)
            for (int a = 0; a < m_plan.addresses; ++a)
                if (GroupReady(a))
                    for (std::size_t i = 0; i < m_connections.size(); ++i)
                        if (m_connections[i].address == a)
                            SendHello(m_connections[i], static_cast<int>(i));
    }
}
