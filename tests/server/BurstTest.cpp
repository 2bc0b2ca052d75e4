// A burst of chat lines into a full room: zephran-server as a child process
// and a hundred client cores in this process. Ten users paste a hundred
// lines each at once; nobody reads until the server has relayed the last
// line, so both the server's socket and every client's socket must hold a
// whole burst. No line may be lost on the way.

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ChatClient.h"
#include "Loopback.h"
#include "PollLoop.h"
#include "RecordingView.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "Wire.h"

using namespace std::chrono_literals;

namespace {

constexpr int kRoom = 100;
constexpr int kSenders = 10;
constexpr int kLines = 100;  // a pasted text of a hundred lines goes whole

// A client window that counts the relayed lines it is shown instead of
// keeping them (a hundred members shown a thousand lines each): per
// sender, how many came and whether each came in the order it was sent.
// Every other call is recorded.
class CCountingView : public CRecordingView {
public:
    using CRecordingView::AppendLog;  // the server's, which the client's below would hide
    void AppendLog(const std::string& text) override
    {
        int sender = -1, line = -1;
        if (std::sscanf(text.c_str(), "<u%d> line %d", &sender, &line) != 2 || sender < 0 || sender >= kSenders) {
            CRecordingView::AppendLog(text);
            return;
        }
        CSender& from = m_senders[static_cast<std::size_t>(sender)];
        if (line != from.nextLine)
            from.bInOrder = false;
        from.nextLine = line + 1;
        ++from.count;
        ++m_nRelayed;
    }

    struct CSender {
        int count = 0;
        int nextLine = 0;
        bool bInOrder = true;
    };
    CSender m_senders[kSenders];
    int m_nRelayed = 0;
};

struct CMember {
    CCountingView view;
    CChatClient client;
};

std::string Name(int index)
{
    char name[8];
    std::snprintf(name, sizeof name, "u%02d", index);
    return name;
}

std::string Line(int number)
{
    char line[16];
    std::snprintf(line, sizeof line, "line %03d", number);
    return line;
}

}  // namespace

TEST(CBurstTest, TenUsersPastingAHundredLinesAtOnceIntoARoomOfAHundredLoseNone)
{
    CPortLock lock;
    CPollLoop loop;
    CServerProcess server;
    // Room for the whole log of a burst, so the server never waits on it.
    server.SetPipeBytes(1 << 20);
    ASSERT_FALSE(server.StartListening(CServerProcess::EOutput::Capture)) << "zephran-server did not start listening";

    const sockaddr_in address = LoopbackAddressOnly();
    std::vector<std::unique_ptr<CMember>> room;
    for (int k = 0; k < kRoom; ++k) {
        auto pMember = std::make_unique<CMember>();
        pMember->client.Init(&pMember->view);
        ASSERT_FALSE(pMember->client.Logon(address, Name(k))) << Name(k) << " did not sign on";
        // The newcomer's own join line is the last announcement of its
        // sign-on; once it is read, every member has read theirs.
        CCountingView& view = pMember->view;
        room.push_back(std::move(pMember));
        const std::string joined = FormatJoinLine(Name(k)).substr(1);
        ASSERT_TRUE(PumpUntil(loop, [&] { return view.Logged(joined); }, 10s));
    }

    // Line by line, each sender in turn: 1000 datagrams at the server at once.
    for (int line = 0; line < kLines; ++line)
        for (int s = 0; s < kSenders; ++s)
            room[static_cast<std::size_t>(s)]->client.SendChat(Line(line));
    // The server relays in the order the lines came, so once it logs the
    // last one every member has been sent every line; only then do the
    // clients read. Lines lost at the server never reach the log.
    const std::string last = "\\x02<" + Name(kSenders - 1) + "> " + Line(kLines - 1) + "\n";
    const bool relayedAll = server.OutputHolding(last, 30s).find(last) != std::string::npos;
    EXPECT_TRUE(relayedAll) << "the server never relayed the last line";

    const int expected = kSenders * kLines;
    PumpUntil(loop, [&] {
        for (const auto& pMember : room)
            if (pMember->view.m_nRelayed < expected)
                return false;
        return true;
    }, relayedAll ? 30s : 1s);
    // Whatever has not come by now is gone: the sockets hold nothing more.
    PumpFor(loop, 50ms);
    int lost = 0, disordered = 0, shortMembers = 0;
    for (const auto& pMember : room) {
        const CCountingView& view = pMember->view;
        lost += expected - view.m_nRelayed;
        shortMembers += view.m_nRelayed < expected ? 1 : 0;
        for (const CCountingView::CSender& from : view.m_senders)
            disordered += from.bInOrder ? 0 : 1;
        EXPECT_TRUE(view.m_messages.empty());
    }
    EXPECT_EQ(lost, 0) << shortMembers << " of " << kRoom << " members missed lines";
    EXPECT_EQ(disordered, 0) << "senders whose lines came out of order, summed over the members";
    EXPECT_EQ(room.front()->view.m_senders[0].count, kLines);
}
