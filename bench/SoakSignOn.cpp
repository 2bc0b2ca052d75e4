#include "SoakSignOn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "Protocol.h"
#include "Wire.h"

namespace {

constexpr int kWaitMs = 10000;  // the server serves one sign-on at a time

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return true;
        sent += static_cast<std::size_t>(n);
    }
    return false;
}

bool ReceiveAll(int fd, void* pBuf, std::size_t size)
{
    auto* p = static_cast<char*>(pBuf);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, p + got, size - got, 0);
        if (n <= 0)
            return true;
        got += static_cast<std::size_t>(n);
    }
    return false;
}

class CStream {
public:
    CStream() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const timeval wait{kWaitMs / 1000, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    }
    ~CStream() { ::close(m_fd); }
    CStream(const CStream&) = delete;
    CStream& operator=(const CStream&) = delete;

    int Fd() const { return m_fd; }
    // A reset instead of a close: the peer's next call fails at once.
    void ArmReset() const
    {
        const linger abort{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }

private:
    int m_fd;
};

}  // namespace

ESignOn SignOn(const CSignOnPlan& plan)
{
    CStream stream;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(SIGNON_PORT);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(stream.Fd(), reinterpret_cast<const sockaddr*>(&server), sizeof server) < 0)
        return ESignOn::Failed;

    auto vanish = [&](EVanish at) {
        if (plan.vanish != at)
            return false;
        if (plan.stallMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(plan.stallMs));
        if (plan.reset)
            stream.ArmReset();
        return true;
    };

    std::string hello = EncodeHello(plan.name);
    hello[0] = static_cast<char>(plan.version);
    if (vanish(EVanish::BeforeHello))
        return ESignOn::Vanished;
    if (plan.vanish == EVanish::InHello) {
        SendAll(stream.Fd(), hello.substr(0, 1 + plan.name.size() / 2));
        vanish(EVanish::InHello);
        return ESignOn::Vanished;
    }
    if (SendAll(stream.Fd(), hello))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterHello))
        return ESignOn::Vanished;

    unsigned char verdict = 0;
    if (ReceiveAll(stream.Fd(), &verdict, 1))
        return ESignOn::Failed;
    if (verdict != PROTOCOL_VERSION)
        return plan.version != PROTOCOL_VERSION && verdict == VERDICT_REFUSED ? ESignOn::Refused : ESignOn::Failed;
    char int32[4];
    if (ReceiveAll(stream.Fd(), int32, 4))
        return ESignOn::Failed;
    const std::int32_t count = DecodeInt32(int32);
    for (std::int32_t k = 0; k < count; ++k) {
        char entry[HELLO_RECEIVE_SIZE];
        if (ReceiveAll(stream.Fd(), int32, 4))
            return ESignOn::Failed;
        const std::int32_t length = DecodeInt32(int32);
        if (length < 1 || length > HELLO_RECEIVE_SIZE - 1 || ReceiveAll(stream.Fd(), entry, static_cast<std::size_t>(length)) ||
            ReceiveAll(stream.Fd(), int32, 4))
            return ESignOn::Failed;
    }
    char probe = 0;
    if (ReceiveAll(stream.Fd(), &probe, 1) || probe != static_cast<char>(PING_PROBE))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterRoom))
        return ESignOn::Vanished;
    if (SendAll(stream.Fd(), std::string(1, probe)))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterFirstEcho))
        return ESignOn::Vanished;
    if (ReceiveAll(stream.Fd(), &probe, 1) || SendAll(stream.Fd(), std::string(1, probe)))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterSecondEcho))
        return ESignOn::Vanished;
    if (ReceiveAll(stream.Fd(), int32, 4))
        return ESignOn::Failed;
    const std::string notice = EncodePortNotice(plan.udpPortNet);
    if (plan.vanish == EVanish::InPortNotice) {
        SendAll(stream.Fd(), notice.substr(0, 1));
        vanish(EVanish::InPortNotice);
        return ESignOn::Vanished;
    }
    if (SendAll(stream.Fd(), notice))
        return ESignOn::Failed;
    // The server closes once it has the notice, and adds the user before it
    // reads any datagram sent after that: the close confirms the sign-on.
    return ::recv(stream.Fd(), &probe, 1, 0) == 0 ? ESignOn::Completed : ESignOn::Failed;
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
        if (std::sscanf(line.c_str(), "%*s %63s %63s %7s", local, remote, state) == 3 && std::strstr(local, wanted) &&
            std::strcmp(state, "0A") == 0)
            return true;
    }
    return false;
}
