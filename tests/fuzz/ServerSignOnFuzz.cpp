// Fuzz target: the server's sign-ons, several at once. The input plays up to
// four clients whose bytes arrive interleaved, against a started server core
// whose members may leave meanwhile.
//
// Input: one settings byte (bits 0-1: members already in the room; bits 2-3:
// connections, one to four; bits 4-5: what a complete port notice names: 0 or
// 3, the client's own datagram socket, as a real client's does; 1, the port
// as it came, the port that stands in for the server's own datagram port
// being read as that port; 2, for connection 0, the port of the member that
// bits 6-7 pick, as a second sign-on from that member's socket would, and for
// the others their own sockets), then events. An event byte: bit 2 set, the
// member that bits 3-4 pick sends its leave; otherwise the connection that
// bits 0-1 pick sends the bytes that follow (a length byte and that many),
// and with bit 7 set it is reset after them. After each event the server runs
// until it is idle; at the end every connection still open is reset.
//
// Connection 0 comes from 127.0.0.1, like the members; the others from
// 127.0.0.2 to 127.0.0.4. Checked for every input:
// - the roster's count equals its links, and no address and port is in it
//   twice;
// - each connection ends exactly one way, the way its bytes call for: added,
//   refused (wrong version, or no zero byte in the first 511 bytes), or
//   abandoned (lost, port 0, the server's own port), with its log line;
// - an added user has the name and port it sent; the members stay, in their
//   order, but for those who left and one whose port a newcomer took;
// - every log line is one a sign-on or the room writes, built only from
//   bytes that arrived; no more bytes are counted as read than were sent;
// - each answer is what its bytes call for, as far as they got;
// - a newcomer's copy of the room (its room list, then every datagram it is
//   sent) holds the same users as the server's roster, when no two users
//   ever share a name (the copy cannot tell them apart).

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
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

enum class EPortMode { Own, AsSent, NamesMember };

// What a sign-on made of these bytes comes to, read the way the peer writes
// it: the hello up to its zero (at most 511 bytes), two echoes, the port.
struct CExpected {
    explicit CExpected(const std::string& stream)
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
            helloSize = HELLO_RECEIVE_SIZE;  // no end within the bytes a hello may have
            tooLong = true;
            return;
        } else {
            return;
        }
        name = TextUpToZero(std::string_view(stream).substr(1, helloSize - 1));
        echoes = static_cast<int>(std::min<std::size_t>(stream.size() - helloSize, 2));
        complete = stream.size() >= helloSize + 4;
        if (complete)
            std::memcpy(&port, stream.data() + helloSize + 2, 2);
        // Port 0 cannot be sent to; from this machine, the server's own port
        // would make the server a member of its own room: neither adds anyone.
        joins = complete && port != 0 && port != htons(BROADCAST_PORT);
    }

    // The one line that ends this sign-on with no user added, or "" if it
    // either joins or ends with the version's refusal line.
    std::string EndLine(const std::string& from) const
    {
        const std::string head = "Sign-on from " + from;
        if (version >= 0 && version != PROTOCOL_VERSION)
            return "";
        if (tooLong)
            return head + " refused: name longer than 509 bytes";
        if (!complete)
            return head + " abandoned: connection lost";
        if (port == 0)
            return head + " abandoned: it named port 0";
        if (port == htons(BROADCAST_PORT))
            return head + " abandoned: it named the server's own port";
        return "";
    }

    int version = -1;           // -1: not even the first byte came
    std::size_t helloSize = 0;  // 0: the hello never came whole
    bool tooLong = false;
    std::string name;
    int echoes = 0;             // echoes that came after the hello
    bool complete = false;
    std::uint16_t port = 0;     // network order, as announced
    bool joins = false;
};

// One event of the input.
struct CEvent {
    int connection = -1;  // -1: a member leaves
    int member = 0;
    std::size_t offset = 0, size = 0;  // of the connection's stream
    bool reset = false;
};

// One client of the harness: where it comes from, what it sends and gets.
struct CClient {
    std::string from;
    std::string stream;  // every byte it sends, in order
    std::unique_ptr<CLoopbackDatagram> pSink;  // its datagram socket
    CLoopbackStream conn;
    std::string answer;
    bool bReset = false;
};

// Run the loop until it has nothing more to deliver now.
void RunIdle(CPollLoop& loop)
{
    for (int passes = 0; passes < 1000 && loop.RunOnce(0) > 0; ++passes) {
    }
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

// Whether a log line may have come of these sign-ons and these members.
bool MayLog(const std::string& line, const std::vector<CExpected>& expected, const std::vector<CClient>& clients)
{
    static const std::vector<std::string> kFixed = {
        "Receiving Client Information...", "Checking version", "  Version 2 Passed...",
        "Sending client room information", "Moving client to UDP port",
        "packet detected from unknown user not signed on!"};  // a member's leave, once gone
    if (std::find(kFixed.begin(), kFixed.end(), line) != kFixed.end())
        return true;
    std::string middle;
    if (Between(line, "client got ping time of ", " ms", &middle) || Between(line, "Error: ", "", &middle))
        return IsNumber(middle, false);
    for (const CMember& member : kMembers)
        if (line == FormatLeave(member.pName) || line == FormatLeaveLine(member.pName))
            return true;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const CExpected& e = expected[k];
        if (line == "New Connection Accepted from: " + clients[k].from)
            return true;
        if (e.version >= 0 && line == "  Version 2 Failed...  Got Version " + std::to_string(e.version))
            return e.version != PROTOCOL_VERSION;
        if (!e.EndLine(clients[k].from).empty() && line == e.EndLine(clients[k].from))
            return true;
        if (e.helloSize == 0 || e.tooLong)
            continue;
        if (line == "Welcome " + e.name || line == FormatJoinLine(e.name))
            return true;
        // HDR_NEW: type byte, blank, ping, blank, name.
        if (Between(line, std::string(1, HDR_NEW) + " ", " " + e.name, &middle) && IsNumber(middle, true))
            return true;
    }
    return false;
}

// The room list at the front of an answer, as (name, ping) pairs; false if
// it is not a whole and well-formed one.
bool ReadRoomList(const std::string& answer, std::size_t* pPos, std::vector<std::pair<std::string, std::int32_t>>* pRoom)
{
    std::size_t pos = 1;
    if (answer.size() < pos + 4)
        return false;
    const std::int32_t count = DecodeInt32(answer.data() + pos);
    pos += 4;
    if (count < 0 || count > 16)
        return false;
    for (std::int32_t i = 0; i < count; ++i) {
        if (answer.size() < pos + 4)
            return false;
        const std::int32_t size = DecodeInt32(answer.data() + pos);
        pos += 4;
        if (size < 1 || answer.size() < pos + static_cast<std::size_t>(size) + 4 ||
            answer[pos + static_cast<std::size_t>(size) - 1] != '\0')
            return false;
        std::string name = answer.substr(pos, static_cast<std::size_t>(size) - 1);
        pos += static_cast<std::size_t>(size);
        pRoom->emplace_back(std::move(name), DecodeInt32(answer.data() + pos));
        pos += 4;
    }
    *pPos = pos;
    return true;
}

// The server's answer to a client, as far as its bytes went; the room list
// it got goes to *pRoom.
void RequireAnswer(const std::string& answer, const CExpected& e, std::vector<std::pair<std::string, std::int32_t>>* pRoom)
{
    if (e.version < 0) {
        Require(answer.empty(), "answer without a hello");
        return;
    }
    if (e.version != PROTOCOL_VERSION) {
        Require(answer == std::string(1, static_cast<char>(VERDICT_REFUSED)), "refusal is one verdict byte");
        return;
    }
    if (e.helloSize == 0 || e.tooLong) {
        Require(answer.empty(), "answer to an unfinished or endless hello");
        return;
    }
    std::size_t pos = 0;
    Require(!answer.empty() && answer[0] == static_cast<char>(PROTOCOL_VERSION), "accepting verdict");
    Require(ReadRoomList(answer, &pos, pRoom), "a whole room list");
    Require(answer.size() > pos && answer[pos] == static_cast<char>(PING_PROBE), "ping probe");
    ++pos;
    if (e.echoes >= 1) {
        Require(answer.size() > pos, "the first echo comes back");
        ++pos;
    }
    if (e.echoes >= 2) {
        Require(answer.size() >= pos + 4 && DecodeInt32(answer.data() + pos) >= 0, "a ping, never negative");
        pos += 4;
    }
    Require(answer.size() == pos, "nothing more", std::to_string(answer.size()));
}

// A client's copy of the room: its room list, then what its datagrams say.
std::multiset<std::pair<std::string, std::int32_t>> CopyOfRoom(std::vector<std::pair<std::string, std::int32_t>> room,
                                                             const std::vector<std::string>& datagrams)
{
    for (const std::string& datagram : datagrams) {
        if (datagram.empty())
            continue;
        const std::string text(DatagramText(datagram));
        if (datagram[0] == HDR_NEW) {
            const CNewUserText user = ScanNewText(text);
            room.emplace_back(user.name, user.ping);
        } else if (datagram[0] == HDR_LEAVE) {
            std::erase_if(room, [&](const auto& entry) { return entry.first == text; });
        }
    }
    return {room.begin(), room.end()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    CFuzzInput in(pData, size);
    const std::uint8_t settings = in.Byte();
    const int members = settings & 3;
    const int connections = 1 + ((settings >> 2) & 3);
    const int mode = (settings >> 4) & 3;
    const EPortMode portMode = mode == 1 ? EPortMode::AsSent : mode == 2 && members > 0 ? EPortMode::NamesMember
                                                                                         : EPortMode::Own;
    const int named = ((settings >> 6) & 3) % std::max(members, 1);

    std::vector<CClient> clients(static_cast<std::size_t>(connections));
    std::vector<CEvent> events;
    for (int k = 0; k < connections; ++k)
        clients[static_cast<std::size_t>(k)].from = "127.0.0." + std::to_string(k + 1);
    while (!in.Empty()) {
        const std::uint8_t op = in.Byte();
        CEvent event;
        if (op & 4) {
            event.member = (op >> 3) & 3;
            if (event.member < members)
                events.push_back(event);
            continue;
        }
        event.connection = (op & 3) % connections;
        CClient& client = clients[static_cast<std::size_t>(event.connection)];
        const std::string bytes = in.Counted();
        if (client.bReset)
            continue;  // nothing goes after a reset
        event.offset = client.stream.size();
        event.size = bytes.size();
        event.reset = (op & 0x80) != 0;
        client.stream += bytes;
        client.bReset = event.reset;
        events.push_back(event);
    }

    ResetNetShim();
    CPollLoop loop;
    CServerLog view;
    std::vector<std::unique_ptr<CLoopbackDatagram>> sinks;
    CChatServer server;
    // Every line is checked: none may be held back by the log's budget.
    CServerLimits limits;
    limits.signOn = {std::chrono::seconds(5), std::chrono::seconds(5)};
    limits.log.bOn = false;
    server.SetLimits(limits);
    Require(!server.Start(&view), "server starts");
    for (int i = 0; i < members; ++i) {
        sinks.push_back(std::make_unique<CLoopbackDatagram>());
        auto* pUser = new CUserInfo;
        pUser->m_name = kMembers[i].pName;
        pUser->m_ping = kMembers[i].ping;
        pUser->m_addr = sinks.back()->Address();
        server.AddUser(pUser);
    }

    // Where each complete port notice points, as the settings say.
    std::vector<CExpected> expected;
    for (int k = 0; k < connections; ++k) {
        CClient& client = clients[static_cast<std::size_t>(k)];
        client.pSink = std::make_unique<CLoopbackDatagram>(0, client.from.c_str());
        if (const CExpected cut(client.stream); cut.complete) {
            std::uint16_t port = 0;
            if (portMode == EPortMode::NamesMember && k == 0)
                port = sinks[static_cast<std::size_t>(named)]->Address().sin_port;
            else if (portMode != EPortMode::AsSent)
                port = client.pSink->PortNetworkOrder();
            else if (ntohs(cut.port) == StandInPort(SOCK_DGRAM, BROADCAST_PORT))
                port = htons(BROADCAST_PORT);
            if (port != 0)
                std::memcpy(client.stream.data() + cut.helloSize + 2, &port, 2);
        }
        expected.emplace_back(client.stream);
    }
    // A newcomer from the members' address that names a member's port takes
    // that member's place, whether the settings asked for it or the port came
    // so by chance (the fuzzer learns the ports it sees compared). The
    // member's socket is then the newcomer's, and a leave sent from it would
    // be the newcomer's: the member sends none.
    std::vector<bool> gone(static_cast<std::size_t>(members), false);  // left, or taken over
    for (int i = 0; i < members && expected[0].joins; ++i)
        if (sinks[static_cast<std::size_t>(i)]->PortNetworkOrder() == expected[0].port)
            gone[static_cast<std::size_t>(i)] = true;
    std::erase_if(events, [&](const CEvent& event) {
        return event.connection < 0 && gone[static_cast<std::size_t>(event.member)];
    });
    view.m_lines.clear();
    const std::int64_t readBefore = g_bytesRead;

    // The clients connect in turn, so the server takes them in this order.
    const std::uint16_t signOnPort = StandInPort(SOCK_STREAM, SIGNON_PORT);
    for (CClient& client : clients) {
        client.conn = CLoopbackStream(signOnPort, client.from.c_str());
        if (!client.conn.IsOpen()) {
            std::fprintf(stderr, "harness set-up: no connection to the server (%s); input skipped\n",
                         std::strerror(errno));
            return 0;
        }
    }
    RunIdle(loop);
    std::int64_t leaveBytes = 0;
    for (const CEvent& event : events) {
        if (event.connection < 0) {
            const auto member = static_cast<std::size_t>(event.member);
            sinks[member]->SendTo(StandInPort(SOCK_DGRAM, BROADCAST_PORT), FormatBare(HDR_LEAVE) + '\0');
            gone[member] = true;
            leaveBytes += 2;
        } else {
            CClient& client = clients[static_cast<std::size_t>(event.connection)];
            client.conn.Send(std::string_view(client.stream).substr(event.offset, event.size));
            RunIdle(loop);
            if (event.reset) {
                client.answer += client.conn.Read(client.conn.Pending());
                client.conn.Reset();
            }
        }
        RunIdle(loop);
    }
    // Every connection still open goes now: each sign-on comes to its end.
    for (CClient& client : clients) {
        if (client.conn.IsOpen()) {
            client.answer += client.conn.Read(client.conn.Pending());
            client.conn.Reset();
        }
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until && loop.RunOnce(10) > 0) {
    }
    RunIdle(loop);

    // The records, told apart by address and port: the members that stay,
    // and the newcomers.
    const CUserList& roster = *server.GetUserList();
    RequireRosterConsistent(roster);
    std::set<std::pair<in_addr_t, std::uint16_t>> addresses;
    std::vector<int> stayed;
    std::vector<const CUserInfo*> newcomers;
    for (const CUserNode* pNode = roster.m_pHead; pNode; pNode = pNode->pNext) {
        const CUserInfo& user = *pNode->pUser;
        Require(addresses.insert({user.m_addr.sin_addr.s_addr, user.m_addr.sin_port}).second,
                "no address and port twice");
        int member = -1;
        for (int i = 0; i < members; ++i)
            if (!gone[static_cast<std::size_t>(i)] && user.m_addr.sin_addr.s_addr == htonl(INADDR_LOOPBACK) &&
                user.m_addr.sin_port == sinks[static_cast<std::size_t>(i)]->PortNetworkOrder())
                member = i;
        if (member < 0) {
            newcomers.push_back(&user);
            continue;
        }
        Require(user.m_name == kMembers[member].pName && user.m_ping == kMembers[member].ping, "a member unchanged");
        stayed.push_back(member);
    }
    // The members stay in their order, newest first, but for those gone.
    std::vector<int> expectedStay;
    for (int i = members - 1; i >= 0; --i)
        if (!gone[static_cast<std::size_t>(i)])
            expectedStay.push_back(i);
    Require(stayed == expectedStay, "members stay, in their order");

    // Each connection ends one way: the one its bytes call for.
    int refusedVersions = 0;
    for (int k = 0; k < connections; ++k) {
        const CExpected& e = expected[static_cast<std::size_t>(k)];
        const CClient& client = clients[static_cast<std::size_t>(k)];
        refusedVersions += e.version >= 0 && e.version != PROTOCOL_VERSION ? 1 : 0;
        const std::string head = "Sign-on from " + client.from + " ";
        std::vector<std::string> ends;
        for (const std::string& line : view.m_lines)
            if (line.starts_with(head))
                ends.push_back(line);
        const std::string end = e.EndLine(client.from);
        Require(ends == (end.empty() ? std::vector<std::string>{} : std::vector<std::string>{end}),
                "one end, the one its bytes call for", client.from);
        const in_addr_t address = ::inet_addr(client.from.c_str());
        const auto added = std::count_if(newcomers.begin(), newcomers.end(), [&](const CUserInfo* pUser) {
            return pUser->m_addr.sin_addr.s_addr == address && pUser->m_name == e.name && pUser->m_addr.sin_port == e.port;
        });
        Require(added == (e.joins ? 1 : 0), "added once if it completed, else never", client.from);
    }
    Require(newcomers.size() == static_cast<std::size_t>(std::count_if(expected.begin(), expected.end(),
                                                                       [](const CExpected& e) { return e.joins; })),
            "no one else added");
    Require(std::count(view.m_lines.begin(), view.m_lines.end(), "Checking version") >=
                std::count_if(expected.begin(), expected.end(), [](const CExpected& e) { return e.helloSize > 0; }),
            "every hello checked");
    int refusalLines = 0;
    for (const std::string& line : view.m_lines) {
        Require(MayLog(line, expected, clients), "log line from bytes that came", line);
        refusalLines += line.starts_with("  Version 2 Failed...") ? 1 : 0;
    }
    Require(refusalLines == refusedVersions, "one refusal for each wrong version");
    Require(view.m_messages.empty(), "no message box");
    std::int64_t sent = 0;
    for (const CClient& client : clients)
        sent += static_cast<std::int64_t>(client.stream.size());
    Require(g_bytesRead - readBefore <= sent + leaveBytes, "no more read than sent");

    // Every name that was ever in the room; with none twice, each newcomer's
    // copy of the room must hold what the server's roster holds.
    std::vector<std::string> names;
    for (int i = 0; i < members; ++i)
        names.push_back(kMembers[i].pName);
    for (const CExpected& e : expected)
        if (e.joins)
            names.push_back(e.name);
    std::sort(names.begin(), names.end());
    const bool bNamesApart =
        std::adjacent_find(names.begin(), names.end()) == names.end() &&
        std::none_of(names.begin(), names.end(),
                     [](const std::string& name) { return !name.empty() && std::isspace(static_cast<unsigned char>(name[0])); });
    std::multiset<std::pair<std::string, std::int32_t>> room;
    for (const CUserNode* pNode = roster.m_pHead; pNode; pNode = pNode->pNext)
        room.emplace(pNode->pUser->m_name, pNode->pUser->m_ping);
    for (int k = 0; k < connections; ++k) {
        CClient& client = clients[static_cast<std::size_t>(k)];
        const CExpected& e = expected[static_cast<std::size_t>(k)];
        std::vector<std::pair<std::string, std::int32_t>> listed;
        RequireAnswer(client.answer, e, &listed);
        const std::vector<std::string> datagrams = client.pSink->Receive(0, 0);
        if (e.joins && portMode == EPortMode::Own && bNamesApart)
            Require(CopyOfRoom(listed, datagrams) == room, "the newcomer's copy of the room is the room", client.from);
    }
    for (const auto& pSink : sinks)
        pSink->Receive(0, 0);
    return 0;
}
