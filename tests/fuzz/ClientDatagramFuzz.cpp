// Fuzz target: the client's datagram dispatch, with the HDR_NEW scan. A
// client core signs on to a harness playing the server, then receives
// arbitrary datagrams from the server's datagram port.
//
// Input: one byte (bits 0-1: entries in the room list), each entry's name as
// a length byte and its bytes, then datagrams, each a two-byte length (up to
// 2047) and that many bytes.
//
// Each datagram is checked against a model of the room copy: the log lines,
// the copy itself (order, names, pings, count equal to its links), the
// connection state, the ping answers that reach the server and the byte
// totals are exactly what the datagram calls for. The model reads HDR_NEW
// with the C library's own sscanf(" %i %n"), the scan the text is built for.

#include <chrono>
#include <cstdint>
#include <cstdio>
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
#include "Traffic.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

constexpr int kMaxDatagram = 2047;
constexpr std::int32_t kPing = 7;

using CRoom = std::vector<std::pair<std::string, std::int32_t>>;  // head first

std::pair<std::string, std::int32_t> ScanReference(const std::string& text)
{
    int ping = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), " %i %n", &ping, &consumed) < 1)
        return {text, 0};
    return {text.substr(static_cast<std::size_t>(consumed)), ping};
}

struct CModel {
    CRoom room;
    bool connected = true;
    std::vector<std::string> lines;
    std::size_t pingAnswers = 0;
    std::int64_t read = 0;
};

void Dispatch(CModel& model, const std::string& datagram)
{
    if (datagram.size() > static_cast<std::size_t>(DATAGRAM_RECEIVE_SIZE)) {
        model.lines.push_back("Recieve Error!!!!");
        return;
    }
    if (datagram.empty())
        return;
    const std::string text(TextUpToZero(std::string_view(datagram).substr(1)));
    switch (static_cast<signed char>(datagram[0])) {
    case HDR_NEW:
        model.room.insert(model.room.begin(), ScanReference(text));
        break;
    case HDR_CHAT:
        model.lines.push_back(text);
        break;
    case HDR_LEAVE:
        std::erase_if(model.room, [&](const auto& entry) { return entry.first == text; });
        break;
    case HDR_SHUTDOWN:
        model.lines.push_back("The server was terminated.");
        model.lines.push_back("Disconnected.");
        model.room.clear();
        model.connected = false;
        break;
    case HDR_PING:
        ++model.pingAnswers;
        break;
    default:
        model.lines.push_back("Unkown packet type!!!");
        return;
    }
    model.read += static_cast<std::int64_t>(datagram.size());
}

void RequireRoom(CUserList& roster, const CRoom& room)
{
    RequireRosterConsistent(roster);
    Require(roster.m_nCount == static_cast<int>(room.size()), "room copy size");
    const CUserNode* pNode = roster.m_pHead;
    for (const auto& [name, ping] : room) {
        Require(pNode->pUser->m_name == name, "room copy name", pNode->pUser->m_name + " vs " + name);
        Require(pNode->pUser->m_ping == ping, "room copy ping", std::to_string(pNode->pUser->m_ping));
        pNode = pNode->pNext;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    CFuzzInput in(pData, size);
    const int entries = in.Byte() & 3;
    CModel model;
    std::string script(1, static_cast<char>(PROTOCOL_VERSION));
    script += EncodeInt32(entries);
    for (int k = 0; k < entries; ++k) {
        const std::string name = in.Counted();
        script += EncodeRoomEntry(name, k);
        model.room.insert(model.room.begin(), {std::string(TextUpToZero(name)), k});
    }
    script += std::string(2, static_cast<char>(PING_PROBE)) + EncodeInt32(kPing);

    ResetNetShim();
    CPollLoop loop;
    CClientLog view;
    CStandInServer server;
    server.AnswerConnect(script);

    CChatClient client;
    client.Init(&view);
    client.SetSignOnLimit(std::chrono::seconds(5));
    Require(!client.Logon(LoopbackAddress(0), "me"), "sign-on succeeds");
    const std::string sent = server.TakeClientBytes();
    Require(sent.size() >= 2, "port notice sent");
    const std::uint16_t clientPort = ntohs(DecodePortNotice(sent.data() + sent.size() - 2));
    RequireRoom(client.Roster(), model.room);
    view.m_lines.clear();

    while (!in.Empty() && model.connected) {
        const std::string datagram = in.Bytes(in.Word() & kMaxDatagram);
        const std::int64_t readBefore = g_bytesRead;
        const std::int64_t writtenBefore = g_bytesWritten;
        model.read = 0;
        model.pingAnswers = 0;
        server.Datagrams().SendTo(clientPort, datagram);
        Require(loop.RunOnce(5000) == 1, "one read notification per datagram");
        Dispatch(model, datagram);

        Require(view.m_lines == model.lines, "log lines");
        view.m_lines.clear();
        model.lines.clear();
        RequireRoom(client.Roster(), model.room);
        Require(client.IsConnected() == model.connected, "connection state");
        const std::vector<std::string> answers = server.Datagrams().Receive(model.pingAnswers, 1000);
        Require(answers == std::vector<std::string>(model.pingAnswers, std::string("\x05\0", 2)), "ping answers");
        Require(g_bytesRead - readBefore == model.read, "bytes read");
        Require(g_bytesWritten - writtenBefore == static_cast<std::int64_t>(2 * model.pingAnswers), "bytes written");
    }
    Require(view.m_messages.empty(), "no message box");
    return 0;
}
