#pragma once
// The load process of the relay benchmark: the chat members, each a datagram
// socket on 127.0.0.1 whose receive buffer is large enough that it never
// drops. It signs members on over the sign-on port, sends their lines, and
// counts what every member receives, stamping the arrival that completes
// each phase. Commanded over a CLoadLink; owns its sockets.

#include <cstdint>
#include <memory>
#include <vector>

#include "LoadLink.h"
#include "LoopbackDatagram.h"

class CLoadSide {
public:
    explicit CLoadSide(int controlFd);
    ~CLoadSide();
    CLoadSide(const CLoadSide&) = delete;
    CLoadSide& operator=(const CLoadSide&) = delete;

    // Serve commands until Quit or until the server process goes.
    int Run();

private:
    enum class ECount { Nothing, Joins, Relays };

    struct CMember {
        std::unique_ptr<CLoopbackDatagram> pSocket;
        std::uint16_t port = 0;              // network order
        std::uint32_t drops = 0;             // the socket's own overflow count
        std::vector<std::int32_t> lastSeq;   // per sender: the last line seen
        std::int32_t sent = 0;               // as a sender: lines sent
        std::int32_t inFlight = 0;           // as a sender: sent, not yet back
    };

    bool Open(int count);
    void Reset(ECount what, int senders);
    CLoadReport SignOn(const CLoadCommand& cmd);
    CLoadReport Relay(const CLoadCommand& cmd);
    CLoadReport Expect(const CLoadCommand& cmd);
    // Wait up to timeoutMs, then read everything ready. Datagrams counted.
    int Poll(int timeoutMs);
    void Count(int member, const char* pData, int len);
    void FillSenders(const CLoadCommand& cmd);
    CLoadReport Finish(std::int64_t cpuStart) const;

    CLoadLink m_link;
    int m_epoll = -1;
    std::vector<CMember> m_members;
    ECount m_counting = ECount::Nothing;
    int m_nSenders = 0;
    std::int64_t m_expected = 0;
    std::int64_t m_received = 0;
    std::int64_t m_disordered = 0;
    std::int64_t m_lastNs = 0;      // the last counted arrival
    std::int64_t m_completeNs = 0;  // the arrival that made m_received reach m_expected
    std::int64_t m_startNs = 0;
};

// The line that member `sender` sends as its number `seq`: the text of a
// HDR_CHAT datagram, 38 bytes, so that its relay is 48 bytes on the wire.
void FormatBenchLine(char* pOut, std::int32_t seq);
constexpr int kBenchLineLength = 38;
// The relayed datagram of that line, as the server sends it (48 bytes with
// its zero byte). Used by the limit measurement to send the same bytes.
int FormatBenchRelay(char* pOut, int sender, std::int32_t seq);
