#include "RawSignOn.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "LoopbackStream.h"
#include "Wire.h"

namespace {

constexpr int kWaitMs = 10000;

}  // namespace

ESignOn CRawSignOn::Run()
{
    CLoopbackStream stream(SIGNON_PORT, m_plan.from.empty() ? nullptr : m_plan.from.c_str());
    stream.SetWait(kWaitMs);
    if (!stream.IsOpen())
        return ESignOn::Failed;

    auto vanish = [&](EVanish at) {
        if (m_plan.vanish != at)
            return false;
        if (m_plan.stallMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_plan.stallMs));
        if (m_plan.bReset)
            stream.Reset();
        return true;
    };

    std::string hello = EncodeHello(m_plan.name);
    hello[0] = static_cast<char>(m_plan.version);
    if (vanish(EVanish::BeforeHello))
        return ESignOn::Vanished;
    if (m_plan.vanish == EVanish::InHello) {
        stream.Send(hello.substr(0, 1 + m_plan.name.size() / 2));  // the rest never goes
        vanish(EVanish::InHello);
        return ESignOn::Vanished;
    }
    if (stream.Send(hello))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterHello))
        return ESignOn::Vanished;

    unsigned char verdict = 0;
    if (stream.ReadFull(&verdict, 1))
        return ESignOn::Failed;
    if (verdict != PROTOCOL_VERSION)
        return m_plan.version != PROTOCOL_VERSION && verdict == VERDICT_REFUSED ? ESignOn::Refused : ESignOn::Failed;
    char int32[4];
    if (stream.ReadFull(int32, 4))
        return ESignOn::Failed;
    for (std::int32_t k = DecodeInt32(int32); k > 0; --k) {
        if (stream.ReadFull(int32, 4))
            return ESignOn::Failed;
        const std::int32_t length = DecodeInt32(int32);
        char entry[HELLO_RECEIVE_SIZE];
        if (length < 1 || length > HELLO_RECEIVE_SIZE - 1 || stream.ReadFull(entry, static_cast<std::size_t>(length)) ||
            stream.ReadFull(int32, 4))
            return ESignOn::Failed;
        m_room.emplace_back(std::string(entry, ::strnlen(entry, static_cast<std::size_t>(length))), DecodeInt32(int32));
    }
    char probe = 0;
    if (stream.ReadFull(&probe, 1) || probe != static_cast<char>(PING_PROBE))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterRoom))
        return ESignOn::Vanished;
    if (stream.Send(std::string(1, probe)))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterFirstEcho))
        return ESignOn::Vanished;
    if (stream.ReadFull(&probe, 1) || stream.Send(std::string(1, probe)))
        return ESignOn::Failed;
    if (vanish(EVanish::AfterSecondEcho))
        return ESignOn::Vanished;
    if (stream.ReadFull(int32, 4))
        return ESignOn::Failed;
    m_ping = DecodeInt32(int32);
    const std::string notice = EncodePortNotice(m_plan.portNet);
    if (m_plan.vanish == EVanish::InPortNotice) {
        stream.Send(notice.substr(0, 1));  // the other byte never goes
        vanish(EVanish::InPortNotice);
        return ESignOn::Vanished;
    }
    if (stream.Send(notice))
        return ESignOn::Failed;
    // The server closes once it has the notice, and adds the user before it
    // reads any datagram sent after that: the close confirms the sign-on.
    return stream.PeerClosed(kWaitMs) ? ESignOn::Completed : ESignOn::Failed;
}
