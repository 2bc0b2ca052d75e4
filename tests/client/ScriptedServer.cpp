#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "Protocol.h"

namespace {

constexpr int kWaitMs = 5000;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int BoundSocket(int type, std::uint16_t port)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (type == SOCK_STREAM) {
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in addr = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
        (type == SOCK_STREAM && ::listen(fd, 5) < 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

std::string Int32(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    return Bytes({static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
                  static_cast<int>((u >> 16) & 0xFF), static_cast<int>(u >> 24)});
}

void CScriptStream::Send(const std::string& bytes) const
{
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool CScriptStream::SendSome(const std::string& bytes) const
{
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 100) <= 0)
        return true;  // the peer is not reading just now
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

void CScriptStream::SendTrickled(const std::string& bytes) const
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (char byte : bytes) {
        ::send(fd, &byte, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string CScriptStream::Read(std::size_t count) const
{
    std::string got;
    char buffer[1024];
    while (got.size() < count && Readable(fd, kWaitMs)) {
        ssize_t n = ::recv(fd, buffer, std::min(count - got.size(), sizeof buffer), 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string CScriptStream::ReadHello() const
{
    std::string hello;
    while (hello.size() < HELLO_RECEIVE_SIZE && (hello.size() < 2 || hello.back() != '\0')) {
        std::string next = Read(1);
        if (next.empty())
            break;
        hello += next;
    }
    return hello;
}

void CScriptStream::CloseSending() const { ::shutdown(fd, SHUT_WR); }

bool CScriptStream::WaitClosed() const
{
    char buffer[256];
    while (Readable(fd, kWaitMs)) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return n == 0;
    }
    return false;
}

CScriptedServer::CScriptedServer()
    : m_listenFd(BoundSocket(SOCK_STREAM, SIGNON_PORT)), m_udpFd(BoundSocket(SOCK_DGRAM, BROADCAST_PORT))
{
}

CScriptedServer::~CScriptedServer()
{
    Join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_udpFd >= 0)
        ::close(m_udpFd);
}

void CScriptedServer::Serve(std::function<void(CScriptStream&)> script)
{
    Join();
    m_thread = std::thread([this, script = std::move(script)] {
        if (!Readable(m_listenFd, kWaitMs))
            return;
        CScriptStream stream{::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC)};
        if (stream.fd < 0)
            return;
        script(stream);
        ::close(stream.fd);
    });
}

void CScriptedServer::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool CScriptedServer::HasPendingConnection() const { return Readable(m_listenFd, 0); }

void CScriptedServer::SendDatagram(std::uint16_t port, const std::string& bytes) const
{
    sockaddr_in to = Loopback(port);
    ::sendto(m_udpFd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool CScriptedServer::ReceiveDatagram(std::string* pBytes, int timeoutMs) const
{
    if (!Readable(m_udpFd, timeoutMs))
        return false;
    char buffer[2048];
    ssize_t n = ::recv(m_udpFd, buffer, sizeof buffer, 0);
    if (n < 0)
        return false;
    pBytes->assign(buffer, static_cast<std::size_t>(n));
    return true;
}
