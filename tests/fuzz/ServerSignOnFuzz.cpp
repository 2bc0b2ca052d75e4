// Fuzz target: the server's sign-on reader. The input plays a client's side
// of the sign-on stream, arriving in pieces, against a started server core.
//
// Input: one settings byte (bits 0-1: users already in the room; bit 2: the
// client resets the connection once its bytes are out instead of ending the
// stream, see EStreamEnd; bit 3: the port notice, if it comes, names the
// datagram port of the member that bits 4-5 pick, as a second sign-on from
// that member's socket would), then the stream as pieces, each a length byte
// followed by that many bytes.
//
// Checked for every input: the roster's count equals its links; a user is
// added only by a complete sign-on, with the name and port it sent (never
// port 0, nor the server's own port from this machine), and a member at the
// same port leaves first; a hello with no zero byte in its first 511 bytes
// is refused after those 511 bytes, with no verdict; every log line is one
// the sign-on writes, built only from bytes that arrived; no more bytes are
// counted as read than were sent. When the client ends the stream but stays
// to read the answer, also: exactly the complete sign-ons add a user, and
// the server's answer is byte for byte what those bytes call for.

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChatServer.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "LoopbackDatagram.h"
#include "LoopbackStream.h"
#include "NetShim.h"
#include "PollLoop.h"
#include "Protocol.h"
#include "ServerLog.h"
#include "StreamEnd.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

struct CMember {
    const char* pName;
    std::int32_t ping;
};
constexpr CMember kMembers[] = {{"Ann", 15}, {"Bob", 0}, {"Cy", 2147483647}};

// What a sign-on made of these bytes comes to, read the way the peer writes
// it: the hello up to its zero (at most 511 bytes), two echoes, the port.
struct CSignOn {
    explicit CSignOn(const std::string& stream)
    {
        if (stream.empty())
            return;
        version = static_cast<unsigned char>(stream[0]);
        if (version != PROTOCOL_VERSION)
            return;
        const std::size_t limit = std::min<std::size_t>(stream.size(), HELLO_RECEIVE_SIZE);
        const std::size_t zero = stream.find('\0', 1);
        if (zero != std::string::npos && zero < limit) {
            helloSize = zero + 1;
        } else if (stream.size() >= static_cast<std::size_t>(HELLO_RECEIVE_SIZE)) {
            // No end within the bytes a hello may have: refused.
            helloSize = HELLO_RECEIVE_SIZE;
            tooLong = true;
            return;
        } else {
            return;
        }
        name = TextUpToZero(std::string_view(stream).substr(1, helloSize - 1));
        complete = stream.size() >= helloSize + 4;
        if (complete)
            std::memcpy(&port, stream.data() + helloSize + 2, 2);
        // Port 0 cannot be sent to; from this machine, the server's own port
        // would make the server a member of its own room: neither adds anyone.
        joins = complete && port != 0 && port != htons(BROADCAST_PORT);
    }

    int version = -1;          // -1: not even the first byte came
    std::size_t helloSize = 0; // 0: the hello never came whole
    bool tooLong = false;      // no zero byte in the first 511
    std::string name;
    bool complete = false;
    std::uint16_t port = 0;    // network order, as announced
    bool joins = false;        // complete, and the user is added
};

// The harness's own connection to the server. A failure here is the
// machine's for a moment (a signal, no port free), not the program's: it is
// tried again, and if it still fails the caller skips the input.
CLoopbackStream ConnectHarness(std::uint16_t port)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        CLoopbackStream conn(port);
        if (conn.IsOpen())
            return conn;
        std::this_thread::sleep_for(std::chrono::milliseconds(1 << attempt));
    }
    return CLoopbackStream();
}

// Run the loop until it delivers something (at most 5 s): a signal that
// cuts a wait short is not the program's doing.
int NextDelivery(CPollLoop& loop)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int delivered = 0;
    while (delivered == 0 && std::chrono::steady_clock::now() < until)
        delivered = loop.RunOnce(5000);
    return delivered;
}

bool IsNumber(const std::string& text, bool allowSign)
{
    std::size_t i = allowSign && !text.empty() && text[0] == '-' ? 1 : 0;
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool Between(const std::string& line, const std::string& head, const std::string& tail, std::string* pMiddle)
{
    if (line.size() < head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    *pMiddle = line.substr(head.size(), line.size() - head.size() - tail.size());
    return true;
}

// Whether the sign-on may have logged this line: a fixed text, or one built
// from the bytes that arrived. A member whose port the newcomer named leaves.
bool MayLog(const std::string& line, const CSignOn& signOn, const char* pReplaced)
{
    static const std::vector<std::string> kFixed = {
        "New Connection Accepted from: 127.0.0.1",
        "Receiving Client Information...",
        "Sign-on from 127.0.0.1 abandoned: connection lost",
    };
    for (const std::string& fixed : kFixed)
        if (line == fixed)
            return true;
    std::string middle;
    if (signOn.version >= 0 && line == "Checking version")
        return signOn.version != PROTOCOL_VERSION || signOn.helloSize > 0;
    if (signOn.version >= 0 && line == "  Version 2 Failed...  Got Version " + std::to_string(signOn.version))
        return signOn.version != PROTOCOL_VERSION;
    if (line == "Sign-on from 127.0.0.1 refused: name longer than 509 bytes")
        return signOn.tooLong;
    if (signOn.helloSize == 0 || signOn.tooLong)
        return false;
    if (line == "  Version 2 Passed..." || line == "Sending client room information" || line == "Moving client to UDP port")
        return true;
    if (line == "Sign-on from 127.0.0.1 abandoned: it named the server's own port")
        return signOn.complete && signOn.port == htons(BROADCAST_PORT);
    if (line == "Sign-on from 127.0.0.1 abandoned: it named port 0")
        return signOn.complete && signOn.port == 0;
    if (pReplaced && (line == FormatLeave(pReplaced) || line == FormatLeaveLine(pReplaced)))
        return signOn.joins;
    if (line == "Welcome " + signOn.name || line == FormatJoinLine(signOn.name))
        return true;
    if (Between(line, "client got ping time of ", " ms", &middle))
        return IsNumber(middle, false);
    if (Between(line, "Error: ", "", &middle))
        return IsNumber(middle, false);
    // HDR_NEW: type byte, blank, ping, blank, name.
    if (Between(line, std::string(1, HDR_NEW) + " ", " " + signOn.name, &middle))
        return IsNumber(middle, true);
    return false;
}

// The server's answer to a client that reads it all: verdict, room, probe,
// the echo of the first echo, the ping; each only as far as the client got.
void RequireAnswer(const std::string& answer, const CSignOn& signOn, const std::vector<CMember>& room)
{
    if (signOn.version < 0) {
        Require(answer.empty(), "answer without a hello");
        return;
    }
    if (signOn.version != PROTOCOL_VERSION) {
        Require(answer == std::string(1, static_cast<char>(VERDICT_REFUSED)), "refusal is one verdict byte");
        return;
    }
    if (signOn.helloSize == 0 || signOn.tooLong) {
        Require(answer.empty(), "answer to an unfinished or endless hello");
        return;
    }
    // The room as it was before the sign-on: the members, newest first.
    std::string expected(1, static_cast<char>(PROTOCOL_VERSION));
    expected += EncodeInt32(static_cast<std::int32_t>(room.size()));
    for (auto it = room.rbegin(); it != room.rend(); ++it)
        expected += EncodeRoomEntry(it->pName, it->ping);
    expected.push_back(static_cast<char>(PING_PROBE));
    Require(answer.compare(0, expected.size(), expected) == 0, "verdict, room and probe");
    std::size_t size = expected.size();
    if (answer.size() > size)
        size += 1;  // the first echo, sent back
    if (answer.size() > size) {
        Require(answer.size() == size + 4, "ping result is four bytes");
        Require(DecodeInt32(answer.data() + size) >= 0, "ping is never negative");
        size += 4;
    }
    Require(answer.size() == size, "answer ends after the ping", std::to_string(answer.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    CFuzzInput in(pData, size);
    const std::uint8_t settings = in.Byte();
    const int members = settings & 3;
    EStreamEnd end = StreamEndFrom((settings >> 2) & 1);
    const bool namesMember = (settings & 8) != 0 && members > 0;
    const int named = ((settings >> 4) & 3) % std::max(members, 1);
    std::string stream;
    std::vector<std::size_t> pieces;
    while (!in.Empty()) {
        const std::string piece = in.Counted();
        stream += piece;
        pieces.push_back(piece.size());
    }

    // The shim ends a stream after its last piece, which the loop cannot
    // see: with no piece at all, nothing would ever make the connection
    // readable. Such a client goes with a reset instead.
    if (stream.empty())
        end = EStreamEnd::Reset;

    ResetNetShim();
    CPollLoop loop;
    CServerLog view;
    // Each member has a socket of its own, so each has a port of its own.
    std::vector<std::unique_ptr<CLoopbackDatagram>> sinks;
    const std::vector<CMember> room(kMembers, kMembers + members);
    CChatServer server;
    server.SetSignOnLimits({std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5)});
    Require(!server.Start(&view), "server starts");
    std::vector<const CUserInfo*> records;  // the members' records, oldest first
    for (int i = 0; i < members; ++i) {
        sinks.push_back(std::make_unique<CLoopbackDatagram>());
        auto* pUser = new CUserInfo;
        pUser->m_name = kMembers[i].pName;
        pUser->m_ping = kMembers[i].ping;
        pUser->m_addr = sinks.back()->Address();
        server.AddUser(pUser);
        records.push_back(pUser);
    }
    // The fuzzer learns the ports it sees compared, so a port notice may name
    // a socket of this process without bit 3: the port that stands in for
    // the server's own datagram port plays that port, and a member's port is
    // a second sign-on from that member's socket either way.
    if (const CSignOn cut(stream); cut.complete) {
        std::uint16_t port = 0;
        if (namesMember)
            port = sinks[static_cast<std::size_t>(named)]->Address().sin_port;
        else if (ntohs(cut.port) == StandInPort(SOCK_DGRAM, BROADCAST_PORT))
            port = htons(BROADCAST_PORT);
        if (port != 0)
            std::memcpy(stream.data() + cut.helloSize + 2, &port, 2);
    }
    const CSignOn signOn(stream);
    int replaced = -1;  // the member whose port the newcomer names, if any
    for (int i = 0; i < members && signOn.joins; ++i)
        if (sinks[static_cast<std::size_t>(i)]->Address().sin_port == signOn.port)
            replaced = i;
    const bool replaces = replaced >= 0;
    view.m_lines.clear();
    const std::int64_t readBefore = g_bytesRead;

    CLoopbackStream client = ConnectHarness(StandInPort(SOCK_STREAM, SIGNON_PORT));
    if (!client.IsOpen()) {
        std::fprintf(stderr, "harness set-up: no connection to the server (%s); input skipped\n", std::strerror(errno));
        return 0;
    }
    // A half-close is left to the shim (CutNextStream), which ends the
    // stream after its last piece; a reset goes with the connection.
    client.Send(stream);
    if (end == EStreamEnd::Reset)
        client.Reset();
    CutNextStream(pieces, end == EStreamEnd::HalfClose);
    // One pass accepts; the connection then waits for its hello, and the
    // next pass reads it to its end and runs the rest of the sign-on.
    Require(NextDelivery(loop) == 1, "one accept notification");
    if (!view.m_lines.empty())
        Require(NextDelivery(loop) == 1, "one notification ends the sign-on");

    const CUserList& roster = *server.GetUserList();
    RequireRosterConsistent(roster);
    const bool added = roster.m_pHead && std::find(records.begin(), records.end(), roster.m_pHead->pUser) == records.end();
    // The members, newest first, less the one the newcomer replaced.
    const CUserNode* pNode = added ? roster.m_pHead->pNext : roster.m_pHead;
    for (int i = members - 1; i >= 0; --i) {
        if (added && i == replaced)
            continue;
        Require(pNode && pNode->pUser == records[static_cast<std::size_t>(i)], "members stay, in their order");
        pNode = pNode->pNext;
    }
    Require(pNode == nullptr, "no other record");
    if (added) {
        Require(signOn.joins, "only a complete sign-on adds a user");
        const CUserInfo& user = *roster.m_pHead->pUser;
        Require(user.m_name == signOn.name, "name is the hello's", user.m_name);
        Require(user.m_addr.sin_port == signOn.port, "port is the notice's");
        Require(user.m_addr.sin_addr.s_addr == htonl(INADDR_LOOPBACK), "address is the connection's");
    }
    const char* pReplaced = replaces ? kMembers[replaced].pName : nullptr;
    for (const std::string& line : view.m_lines)
        Require(MayLog(line, signOn, pReplaced), "log line from bytes that came", line);
    Require(view.m_messages.empty(), "no message box");
    Require(g_bytesRead - readBefore <= static_cast<std::int64_t>(stream.size()), "no more read than sent");

    if (client.IsOpen()) {
        Require(added == signOn.joins, "every complete sign-on adds its user");
        if (signOn.complete || signOn.tooLong)
            Require(g_bytesRead - readBefore == static_cast<std::int64_t>(signOn.helloSize + (signOn.tooLong ? 0 : 4)),
                    "sign-on bytes read");
        client.SetWait(1000);
        RequireAnswer(client.ReadToEnd(), signOn, room);
        client.Reset();  // closed first by the harness: no port of its own left in TIME_WAIT
    }
    for (const auto& pSink : sinks)
        pSink->Receive(0, 0);
    return 0;
}
