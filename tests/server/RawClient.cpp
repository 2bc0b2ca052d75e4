#include "RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

constexpr std::uint16_t kSignOnPort = 2050;
constexpr std::uint16_t kDatagramPort = 2051;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

std::int32_t Int32(const unsigned char* p)
{
    return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

CRawClient::~CRawClient()
{
    if (m_tcp >= 0)
        ::close(m_tcp);
    if (m_udp >= 0)
        ::close(m_udp);
}

bool CRawClient::ReceiveAll(void* pBuf, int len)
{
    auto* p = static_cast<char*>(pBuf);
    while (len > 0) {
        const ssize_t got = ::recv(m_tcp, p, static_cast<size_t>(len), 0);
        if (got <= 0)
            return true;
        p += got;
        len -= static_cast<int>(got);
    }
    return false;
}

bool CRawClient::SignOn(const std::string& name)
{
    m_tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (m_tcp < 0 || m_udp < 0)
        return true;
    const timeval limit{5, 0};
    ::setsockopt(m_tcp, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_tcp, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_in server = Loopback(kSignOnPort);
    if (::connect(m_tcp, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
        return true;

    const std::string hello = std::string(1, '\x02') + name + '\0';
    if (::send(m_tcp, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size()))
        return true;
    unsigned char verdict = 0;
    unsigned char four[4];
    if (ReceiveAll(&verdict, 1) || verdict != 2 || ReceiveAll(four, 4))
        return true;
    for (std::int32_t k = Int32(four); k > 0; --k) {
        if (ReceiveAll(four, 4))
            return true;
        std::string entry(static_cast<size_t>(Int32(four)), '\0');
        if (ReceiveAll(entry.data(), static_cast<int>(entry.size())) || ReceiveAll(four, 4))
            return true;
        m_room.emplace_back(entry.substr(0, entry.find('\0')), Int32(four));
    }
    for (int echo = 0; echo < 2; ++echo) {
        char byte = 0;
        if (ReceiveAll(&byte, 1) || ::send(m_tcp, &byte, 1, MSG_NOSIGNAL) != 1)
            return true;
    }
    if (ReceiveAll(four, 4))
        return true;
    m_ping = Int32(four);

    sockaddr_in local = Loopback(0);
    socklen_t len = sizeof local;
    const sockaddr_in datagramPort = Loopback(kDatagramPort);
    if (::bind(m_udp, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(m_udp, reinterpret_cast<const sockaddr*>(&datagramPort), sizeof datagramPort) != 0 ||
        ::getsockname(m_udp, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return true;
    m_udpPort = ntohs(local.sin_port);
    if (::send(m_tcp, &local.sin_port, 2, MSG_NOSIGNAL) != 2)
        return true;
    ::close(m_tcp);
    m_tcp = -1;
    return false;
}

bool CRawClient::Send(const std::string& text)
{
    return ::send(m_udp, text.c_str(), text.size() + 1, 0) != static_cast<ssize_t>(text.size() + 1);
}

void CRawClient::Drain()
{
    char buf[2048];
    for (;;) {
        const ssize_t got = ::recv(m_udp, buf, sizeof buf, MSG_DONTWAIT);
        if (got < 0)
            return;
        m_datagrams.emplace_back(buf, static_cast<size_t>(got));
    }
}

bool CRawClient::Received(const std::string& bytes) const
{
    for (const std::string& d : m_datagrams)
        if (d == bytes)
            return true;
    return false;
}

bool IsListening(std::uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        // "  sl  local_address rem_address   st ...": LISTEN is state 0A.
        char local[64], remote[64], state[8];
        if (std::sscanf(line.c_str(), "%*s %63s %63s %7s", local, remote, state) == 3 &&
            std::strstr(local, wanted) && std::strcmp(state, "0A") == 0)
            return true;
    }
    return false;
}
