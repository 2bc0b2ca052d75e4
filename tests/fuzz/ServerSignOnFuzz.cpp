// Fuzz target: the server's sign-on reader. The input plays a client's side
// of the sign-on stream, arriving in pieces, against a started server core.
//
// Input: one settings byte (bits 0-1: users already in the room; bit 2: the
// client resets the connection once its bytes are out instead of ending the
// stream, see EStreamEnd), then the stream as pieces, each a length byte
// followed by that many bytes.
//
// Checked for every input: the roster's count equals its links; a user is
// added only by a complete sign-on, with the name and port it sent (never the
// server's own port, from this machine); every
// log line is one the sign-on writes, built only from bytes that arrived; no
// more bytes are counted as read than were sent. When the client ends the
// stream but stays to read the answer, also: exactly the complete sign-ons add a user,
// and the server's answer is byte for byte what those bytes call for.

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
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
        if (zero != std::string::npos && zero < limit)
            helloSize = zero + 1;
        else if (stream.size() >= static_cast<std::size_t>(HELLO_RECEIVE_SIZE))
            helloSize = HELLO_RECEIVE_SIZE;
        else
            return;
        name = TextUpToZero(std::string_view(stream).substr(1, helloSize - 1));
        complete = stream.size() >= helloSize + 4;
        if (complete)
            std::memcpy(&port, stream.data() + helloSize + 2, 2);
        // From this machine, the server's own port would make the server a
        // member of its own room: such a sign-on adds no one.
        joins = complete && port != htons(BROADCAST_PORT);
    }

    int version = -1;          // -1: not even the first byte came
    std::size_t helloSize = 0; // 0: the hello never came whole
    std::string name;
    bool complete = false;
    std::uint16_t port = 0;    // network order, as announced
    bool joins = false;        // complete, and the user is added
};

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
// from the bytes that arrived.
bool MayLog(const std::string& line, const CSignOn& signOn)
{
    static const std::vector<std::string> kFixed = {
        "New Connection Accepted from: 127.0.0.1",
        "Receiving Client Information...",
        "Checking version",
        "  Version 2 Passed...",
        "Sending client room information",
        "Moving client to UDP port",
        "Sign-on from 127.0.0.1 abandoned: connection lost",
    };
    for (const std::string& fixed : kFixed)
        if (line == fixed)
            return true;
    std::string middle;
    if (signOn.version >= 0 && line == "  Version 2 Failed...  Got Version " + std::to_string(signOn.version))
        return signOn.version != PROTOCOL_VERSION;
    if (signOn.helloSize == 0)
        return false;
    if (line == "Sign-on from 127.0.0.1 abandoned: it named the server's own port")
        return signOn.complete && !signOn.joins;
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
void RequireAnswer(const std::string& answer, const CSignOn& signOn, const CUserList& roster, int members)
{
    if (signOn.version < 0) {
        Require(answer.empty(), "answer without a hello");
        return;
    }
    if (signOn.version != PROTOCOL_VERSION) {
        Require(answer == std::string(1, static_cast<char>(VERDICT_REFUSED)), "refusal is one verdict byte");
        return;
    }
    if (signOn.helloSize == 0) {
        Require(answer.empty(), "answer to an unfinished hello");
        return;
    }
    std::string expected(1, static_cast<char>(PROTOCOL_VERSION));
    expected += EncodeInt32(members);
    // The room as it was before the sign-on: the members, newest first.
    const CUserNode* pNode = roster.m_pHead;
    if (signOn.joins && pNode)
        pNode = pNode->pNext;  // the newcomer, added at the head after the answer
    for (int i = 0; i < members && pNode; ++i, pNode = pNode->pNext)
        expected += EncodeRoomEntry(pNode->pUser->m_name, pNode->pUser->m_ping);
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
    const EStreamEnd end = StreamEndFrom((settings >> 2) & 1);
    std::string stream;
    std::vector<std::size_t> pieces;
    while (!in.Empty()) {
        const std::string piece = in.Counted();
        stream += piece;
        pieces.push_back(piece.size());
    }
    const CSignOn signOn(stream);

    ResetNetShim();
    CPollLoop loop;
    CServerLog view;
    CLoopbackDatagram sink;  // where the members' datagrams go
    CChatServer server;
    server.SetSignOnLimit(std::chrono::seconds(5));
    Require(!server.Start(&view), "server starts");
    for (int i = 0; i < members; ++i) {
        auto* pUser = new CUserInfo;
        pUser->m_name = kMembers[i].pName;
        pUser->m_ping = kMembers[i].ping;
        pUser->m_addr = sink.Address();
        server.AddUser(pUser);
    }
    view.m_lines.clear();
    const std::int64_t readBefore = g_bytesRead;

    int client = ConnectLoopback(StandInPort(SOCK_STREAM, SIGNON_PORT));
    Require(client >= 0, "harness connects");
    WriteAll(client, stream);
    client = EndStream(client, end);
    CutNextStream(pieces, end == EStreamEnd::HalfClose);
    Require(loop.RunOnce(5000) == 1, "one accept notification");

    const CUserList& roster = *server.GetUserList();
    RequireRosterConsistent(roster);
    const bool added = roster.m_nCount == members + 1;
    Require(added || roster.m_nCount == members, "roster grows by at most one");
    if (added) {
        Require(signOn.joins, "only a complete sign-on adds a user");
        const CUserInfo& user = *roster.m_pHead->pUser;
        Require(user.m_name == signOn.name, "name is the hello's", user.m_name);
        Require(user.m_addr.sin_port == signOn.port, "port is the notice's");
        Require(user.m_addr.sin_addr.s_addr == htonl(INADDR_LOOPBACK), "address is the connection's");
    }
    for (const std::string& line : view.m_lines)
        Require(MayLog(line, signOn), "log line from bytes that came", line);
    Require(view.m_messages.empty(), "no message box");
    Require(g_bytesRead - readBefore <= static_cast<std::int64_t>(stream.size()), "no more read than sent");

    if (client >= 0) {
        Require(added == signOn.joins, "every complete sign-on adds its user");
        if (signOn.complete)
            Require(g_bytesRead - readBefore == static_cast<std::int64_t>(signOn.helloSize + 4), "sign-on bytes read");
        RequireAnswer(ReadUntilClosed(client, 1000), signOn, roster, members);
        CloseAbortive(client);
    }
    sink.Receive(0, 0);
    return 0;
}
