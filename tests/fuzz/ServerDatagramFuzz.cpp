// Fuzz target: the server's datagram dispatch. Members and a stranger send
// arbitrary datagrams to a started server core, and members may sign on
// again while already in the room (the earlier record leaves first).
//
// Input: one byte (bits 0-1: members, one to four), each member's name as a
// length byte and its bytes, then steps. A step is a selector byte: with bit
// 7 set it adds member (bits 0-1) once more; otherwise bits 0-2 pick the
// sender (a member, or the stranger past the last member) and a two-byte
// length and that many bytes make the datagram (up to 1023 bytes).
//
// Each step is checked against a model of the room: the log lines, every
// datagram each member receives, the roster (order, records, count equal to
// its links) and the byte totals are exactly what the datagram calls for.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ChatServer.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "LoopbackDatagram.h"
#include "NetShim.h"
#include "PollLoop.h"
#include "Protocol.h"
#include "ServerLog.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

constexpr int kMaxDatagram = 1023;

struct CMember {
    std::string name;
    std::unique_ptr<CLoopbackDatagram> pSocket;
};

class CRoomModel {
public:
    void Add(int member) { m_roster.insert(m_roster.begin(), member); }
    void Remove(int record) { m_roster.erase(m_roster.begin() + record); }
    // The record FindUser meets first for this member, or -1.
    int Find(int member) const
    {
        for (std::size_t i = 0; i < m_roster.size(); ++i)
            if (m_roster[i] == member)
                return static_cast<int>(i);
        return -1;
    }
    // Every record in roster order receives text once.
    void SendToAll(const std::string& text)
    {
        for (int member : m_roster)
            m_expected[static_cast<std::size_t>(member)].push_back(text + '\0');
        m_lines.push_back(text);
        m_written += static_cast<std::int64_t>(text.size() + 1) * static_cast<std::int64_t>(m_roster.size());
    }
    void Log(const std::string& line) { m_lines.push_back(line); }

    std::vector<int> m_roster;  // member per record, head first
    std::vector<std::vector<std::string>> m_expected{4};
    std::vector<std::string> m_lines;
    std::int64_t m_read = 0;
    std::int64_t m_written = 0;
};

// The server's answer to one datagram, as the model has it.
void Dispatch(CRoomModel& model, const std::vector<CMember>& members, int sender, const std::string& datagram)
{
    if (datagram.size() > static_cast<std::size_t>(DATAGRAM_RECEIVE_SIZE)) {
        model.Log("Recieve Error!");
        return;
    }
    if (datagram.empty())
        return;
    const int record = sender < static_cast<int>(members.size()) ? model.Find(sender) : -1;
    if (record < 0) {
        model.Log("packet detected from unknown user not signed on!");
        return;
    }
    const std::string& name = members[static_cast<std::size_t>(sender)].name;
    const int type = static_cast<signed char>(datagram[0]);
    switch (type) {
    case HDR_NEW:
        model.Log("HDR_NEW is an illegal packet type to be sent to the server!");
        break;
    case HDR_CHAT:
        model.SendToAll(FormatRelay(name, TextUpToZero(std::string_view(datagram).substr(1))));
        break;
    case HDR_LEAVE:
        model.SendToAll(FormatLeave(name));
        model.SendToAll(FormatLeaveLine(name));
        model.Remove(record);
        break;
    case HDR_PING:
        break;
    default:
        model.Log("Unkown packet of type " + std::to_string(type) + " detected!");
        model.Log("Packet was: " + std::string(TextUpToZero(datagram)));
        return;
    }
    model.m_read += static_cast<std::int64_t>(datagram.size());
}

void RequireRoster(const CUserList& roster, const CRoomModel& model, const std::vector<CMember>& members)
{
    RequireRosterConsistent(roster);
    Require(roster.m_nCount == static_cast<int>(model.m_roster.size()), "roster size");
    const CUserNode* pNode = roster.m_pHead;
    for (int member : model.m_roster) {
        const CUserInfo& user = *pNode->pUser;
        const CMember& expected = members[static_cast<std::size_t>(member)];
        Require(user.m_name == expected.name, "roster order and names");
        Require(user.m_addr.sin_port == expected.pSocket->Address().sin_port, "roster addresses");
        pNode = pNode->pNext;
    }
}

// What each member has received equals what the model sent it, in order.
void RequireDelivered(CRoomModel& model, const std::vector<CMember>& members)
{
    for (std::size_t m = 0; m < members.size(); ++m) {
        std::vector<std::string>& expected = model.m_expected[m];
        const std::vector<std::string> got = members[m].pSocket->Receive(expected.size(), 1000);
        Require(got == expected, "datagrams a member receives",
                std::to_string(got.size()) + " of " + std::to_string(expected.size()));
        expected.clear();
    }
}

void RequireLog(CServerLog& view, CRoomModel& model)
{
    Require(view.m_lines == model.m_lines, "log lines",
            std::to_string(view.m_lines.size()) + " vs " + std::to_string(model.m_lines.size()));
    view.m_lines.clear();
    model.m_lines.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    CFuzzInput in(pData, size);
    const int memberCount = 1 + (in.Byte() & 3);
    std::vector<CMember> members;
    for (int m = 0; m < memberCount; ++m)
        members.push_back({in.Name(), std::make_unique<CLoopbackDatagram>()});
    const CLoopbackDatagram stranger;

    ResetNetShim();
    CPollLoop loop;
    CServerLog view;
    CChatServer server;
    // The model knows every datagram and line: no rate limit may cut them.
    CServerLimits limits;
    limits.flood.bOn = false;
    limits.log.bOn = false;
    server.SetLimits(limits);
    Require(!server.Start(&view), "server starts");
    const std::uint16_t serverPort = StandInPort(SOCK_DGRAM, BROADCAST_PORT);

    CRoomModel model;
    auto addMember = [&](int m) {
        auto* pUser = new CUserInfo;
        pUser->m_name = members[static_cast<std::size_t>(m)].name;
        pUser->m_ping = m;
        pUser->m_addr = members[static_cast<std::size_t>(m)].pSocket->Address();
        server.AddUser(pUser);
        // One socket, one record: the earlier one leaves as if it signed off.
        if (const int earlier = model.Find(m); earlier >= 0) {
            model.SendToAll(FormatLeave(members[static_cast<std::size_t>(m)].name));
            model.SendToAll(FormatLeaveLine(members[static_cast<std::size_t>(m)].name));
            model.Remove(earlier);
        }
        model.Add(m);
        model.SendToAll(FormatNew(m, members[static_cast<std::size_t>(m)].name));
        model.SendToAll(FormatJoinLine(members[static_cast<std::size_t>(m)].name));
    };
    for (int m = 0; m < memberCount; ++m)
        addMember(m);

    while (!in.Empty()) {
        const std::int64_t readBefore = g_bytesRead;
        const std::int64_t writtenBefore = g_bytesWritten;
        model.m_read = model.m_written = 0;
        const std::uint8_t selector = in.Byte();
        if (selector & 0x80) {
            addMember((selector & 3) % memberCount);
        } else {
            const int sender = selector & 7;
            const std::string datagram = in.Bytes(in.Word() & kMaxDatagram);
            const CLoopbackDatagram& from = sender < memberCount ? *members[static_cast<std::size_t>(sender)].pSocket : stranger;
            from.SendTo(serverPort, datagram);
            Require(loop.RunOnce(5000) == 1, "one read notification per datagram");
            Dispatch(model, members, sender < memberCount ? sender : memberCount, datagram);
        }
        RequireLog(view, model);
        RequireDelivered(model, members);
        RequireRoster(*server.GetUserList(), model, members);
        Require(g_bytesRead - readBefore == model.m_read, "bytes read");
        Require(g_bytesWritten - writtenBefore == model.m_written, "bytes written");
    }
    Require(view.m_messages.empty(), "no message box");
    return 0;
}
