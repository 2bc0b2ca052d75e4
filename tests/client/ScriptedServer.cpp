#include "ScriptedServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "Loopback.h"
#include "Protocol.h"

namespace {

constexpr int kWaitMs = 5000;

}  // namespace

CScriptedServer::CScriptedServer() : m_listener(SIGNON_PORT), m_udp(BROADCAST_PORT) {}

CScriptedServer::~CScriptedServer() { Join(); }

void CScriptedServer::Serve(SignOnScript script)
{
    Join();
    m_thread = std::thread([this, script = std::move(script)] {
        CLoopbackStream stream = m_listener.Accept(kWaitMs);
        if (stream.IsOpen())
            script(stream);
    });
}

void CScriptedServer::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool CScriptedServer::ReceiveDatagram(std::string* pBytes, int timeoutMs) const
{
    std::string got = m_udp.Next(timeoutMs);
    if (got == CLoopbackDatagram::kNone)
        return false;
    *pBytes = std::move(got);
    return true;
}

std::string ReadHello(CLoopbackStream& stream)
{
    std::string hello;
    while (hello.size() < HELLO_RECEIVE_SIZE && (hello.size() < 2 || hello.back() != '\0')) {
        const std::string next = stream.Read(1);
        if (next.empty())
            break;
        hello += next;
    }
    return hello;
}

bool SendSome(const CLoopbackStream& stream, const std::string& bytes)
{
    if (!WaitReady(stream.Fd(), POLLOUT, 100))
        return true;  // the peer is not reading just now
    const ssize_t n = ::send(stream.Fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

void SendTrickled(const CLoopbackStream& stream, const std::string& bytes)
{
    for (char byte : bytes) {
        stream.Send(std::string(1, byte));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
