// Fuzz target: the client's sign-on reader. The input plays the server's side
// of the sign-on stream, arriving in pieces, against a client core's Logon.
//
// Input: one settings byte (bit 0: the server resets the connection once its
// bytes are out instead of ending the stream, see EStreamEnd; the values 2
// and 3 only: the server never ends the stream but sends its last piece
// again and again, for ever), the user name as a length byte and its bytes,
// then the stream as pieces, each a length byte followed by that many bytes.
// Few values make a server endless, because only the time limit ends most
// of those runs and they are slow.
//
// Checked for every input: the sign-on ends within its time limit and the
// room copy never holds more than the largest room taken, however much the
// server sends; the roster's count equals its links; a failed sign-on leaves
// the client disconnected with an empty room; a successful one came from a
// complete answer and holds exactly its room entries; every log line and
// message is one the sign-on writes, built only from bytes that arrived; the
// hello went out as written. When the server ends the stream but stays to
// read what the client sent, also: exactly the complete answers sign on, the
// client's bytes are exactly hello, echoes and port notice as far as it got,
// and the announced port reaches the client's datagram socket. A server that
// sends for ever is judged by what the client took of it, and may instead be
// given up at the time limit.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ChatClient.h"
#include "ClientLog.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "Loopback.h"
#include "NetShim.h"
#include "PollLoop.h"
#include "Protocol.h"
#include "StandInServer.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

const char kLostText[] = "Error in sign-on -- The connection to the server was lost.";
const char kSilentText[] = "Error in sign-on -- The server stopped answering.";
const char kBadRoomText[] = "Error in sign-on -- The server sent a damaged room list.";

// The sign-on's time limit: long enough that a stream which ends is never
// cut short, and short for a server that sends for ever, which only the
// limit ends. Past the limit a sign-on has this long to give up.
constexpr auto kEndingLimit = std::chrono::seconds(5);
constexpr auto kEndlessLimit = std::chrono::milliseconds(5);
constexpr auto kGivingUp = std::chrono::seconds(2);
// A server that resets the connection at once may do so before the connect
// has completed.
const char kConnectText[] = "Error in socket connect -- Possibly the server is down or not at this address.";

// What a server's answer made of these bytes comes to, read the way the
// client reads it: verdict, room count, entries, two echoes, the ping.
struct CAnswer {
    explicit CAnswer(const std::string& stream) : m_stream(stream)
    {
        std::string field;
        if (!Take(1, &field))
            return;
        verdict = static_cast<unsigned char>(field[0]);
        if (verdict != PROTOCOL_VERSION || !Take(4, &field))
            return;
        const std::int32_t count = DecodeInt32(field.data());
        if (count > CChatClient::MAX_ROOM_COUNT) {
            damaged = true;
            return;
        }
        for (std::int32_t k = 0; k < count; ++k) {
            if (!Take(4, &field))
                return;
            const std::int32_t length = DecodeInt32(field.data());
            if (length < 1 || length > CChatClient::MAX_ROOM_ENTRY) {
                damaged = true;
                return;
            }
            std::string name;
            if (!Take(static_cast<std::size_t>(length), &name) || !Take(4, &field))
                return;
            room.emplace_back(std::string(TextUpToZero(name)), DecodeInt32(field.data()));
        }
        for (int round = 0; round < 2; ++round) {
            if (!Take(1, &field))
                return;
            echoes += field;
        }
        if (!Take(4, &field))
            return;
        ping = DecodeInt32(field.data());
        complete = true;
    }

    bool Take(std::size_t n, std::string* pField)
    {
        if (m_stream.size() - m_pos < n)
            return false;
        *pField = m_stream.substr(m_pos, n);
        m_pos += n;
        return true;
    }

    int verdict = -1;  // -1: not even the verdict came
    std::vector<std::pair<std::string, std::int32_t>> room;  // as sent, newest first
    bool damaged = false;
    std::string echoes;  // the probe bytes that came, which the client sends back
    std::int32_t ping = 0;
    bool complete = false;

private:
    const std::string& m_stream;
    std::size_t m_pos = 0;
};

bool MayLog(const std::string& line, const CAnswer& answer)
{
    static const std::vector<std::string> kFixed = {
        "Connecting to server at: 127.0.0.1",
        "Connected.  Checking Version",
        "Checking version",
        "Version 2 verified.",
        "Receiving Room Information...",
        "Responding to server's ping",
        "Moving to UDP broadcast port",
        "Sending contact information",
    };
    for (const std::string& fixed : kFixed)
        if (line == fixed)
            return true;
    if (answer.verdict >= 0 && answer.verdict != PROTOCOL_VERSION &&
        line == "Version 2 is not same as server's version " + std::to_string(answer.verdict) + ".  Terminating...")
        return true;
    return answer.complete && line == "\r\nServer reports a " + std::to_string(answer.ping) + " ms ping time";
}

// The first count bytes of stream followed by repeat over and over: what the
// client heard of a server that never stops.
std::string Heard(const std::string& stream, const std::string& repeat, std::size_t count)
{
    std::string heard = stream.substr(0, count);
    while (heard.size() < count && !repeat.empty())
        heard.append(repeat, 0, count - heard.size());
    return heard;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    CFuzzInput in(pData, size);
    const std::uint8_t settings = in.Byte();
    const bool bEndless = (settings & ~1) == 2;
    const EStreamEnd end = bEndless ? EStreamEnd::HalfClose : StreamEndFrom(settings & 1);
    const std::string name = in.Name();
    std::string stream, lastPiece;
    std::vector<std::size_t> pieces;
    while (!in.Empty()) {
        lastPiece = in.Counted();
        stream += lastPiece;
        pieces.push_back(lastPiece.size());
    }
    const std::string repeat = bEndless ? lastPiece : std::string();

    ResetNetShim();
    CPollLoop loop;
    CClientLog view;
    CStandInServer server;
    CutNextStream(pieces, end == EStreamEnd::HalfClose && !bEndless);
    RepeatAfterPieces(repeat);
    server.AnswerConnect(stream, end);

    {
        CChatClient client;
        client.Init(&view);
        view.m_pCounted = &client.Roster();
        const std::chrono::milliseconds limit = bEndless ? kEndlessLimit : kEndingLimit;
        client.SetSignOnLimit(limit);
        const auto start = std::chrono::steady_clock::now();
        const bool failed = client.Logon(LoopbackAddress(0), name);
        Require(std::chrono::steady_clock::now() - start < limit + kGivingUp, "the sign-on ends in time");
        // An endless server is judged by what the client took of it before
        // it stopped reading, which only its verdict or the limit decides.
        const std::string heard = bEndless ? Heard(stream, repeat, CutStreamReceived()) : stream;
        const CAnswer answer(heard);
        Require(view.m_nMostUsers <= CChatClient::MAX_ROOM_COUNT, "the room copy stays bounded");
        RequireRosterConsistent(client.Roster());
        Require(client.IsConnected() == !failed, "connected exactly when signed on");
        // Only the limit ends a server that sends for ever without fault.
        const bool bTimedOut = view.m_messages == std::vector<std::string>{kSilentText};
        Require(!bTimedOut || bEndless, "a server that ends its stream is never given up for time");
        if (failed) {
            Require(client.Roster().m_nCount == 0, "a failed sign-on leaves no room");
        } else {
            Require(answer.complete, "only a complete answer signs on");
            Require(client.Roster().m_nCount == static_cast<int>(answer.room.size()), "the copy holds the room");
            // The copy is oldest first: the room's last entry is its head.
            const CUserNode* pNode = client.Roster().m_pHead;
            for (auto it = answer.room.rbegin(); it != answer.room.rend(); ++it, pNode = pNode->pNext) {
                Require(pNode->pUser->m_name == it->first, "room entry name", pNode->pUser->m_name);
                Require(pNode->pUser->m_ping == it->second, "room entry ping");
            }
        }
        for (const std::string& line : view.m_lines)
            Require(MayLog(line, answer), "log line from bytes that came", line);
        for (const std::string& message : view.m_messages)
            Require(message == kLostText || bTimedOut || (answer.damaged && message == kBadRoomText) ||
                        (end == EStreamEnd::Reset && message == kConnectText) || MayLog(message, answer),
                    "message", message);

        if (server.Answered()) {
            Require(failed == !answer.complete || bTimedOut, "every complete answer signs on");
            if (answer.damaged)
                Require(view.m_messages == std::vector<std::string>{kBadRoomText}, "damaged room is reported");
            const std::string sent = server.TakeClientBytes();
            std::string expected = EncodeHello(name);
            if (answer.verdict == PROTOCOL_VERSION && !answer.damaged)
                expected += answer.echoes;
            // Given up for time, the client may not have sent everything.
            const std::size_t prefix = bTimedOut ? std::min(sent.size(), expected.size()) : expected.size();
            Require(sent.compare(0, prefix, expected, 0, prefix) == 0, "hello and echoes as sent");
            Require(sent.size() == expected.size() + (failed ? 0 : 2) || bTimedOut,
                    "nothing but the port notice follows");
            if (!failed) {
                // The notice names the client's datagram socket, which hears the server.
                server.Datagrams().SendTo(ntohs(DecodePortNotice(sent.data() + expected.size())), std::string("\x02probe", 7));
                Require(loop.RunOnce(5000) == 1, "the announced port is the client's");
                Require(!view.m_lines.empty() && view.m_lines.back() == "probe", "datagram reaches the client");
            }
        }
    }
    return 0;
}
