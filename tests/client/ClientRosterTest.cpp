// The client's room copy and its handlers, driven directly: no sockets, no
// ports.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ChatClient.h"
#include "RecordingView.h"
#include "UserInfo.h"
#include "Wire.h"

namespace {

class CClientRosterTest : public ::testing::Test {
protected:
    void SetUp() override { m_client.Init(&m_view); }

    CRecordingView m_view;
    CChatClient m_client;
};

// What the C library's " %i %n" makes of text: the ping and the name after it.
std::pair<std::int32_t, std::string> LibraryScan(const std::string& text)
{
    int ping = 0;
    int consumed = 0;
    std::sscanf(text.c_str(), " %i %n", &ping, &consumed);
    return {ping, text.substr(static_cast<std::size_t>(consumed))};
}


}  // namespace

TEST_F(CClientRosterTest, NewUserTextIsReadAsTheScanReadsIt)
{
    struct CCase {
        std::string text;
        std::string user;
    };
    const std::vector<CCase> cases = {
        {" 15 Ann", "Ann (15)"},
        {" 15  Ann", "Ann (15)"},  // leading blanks of the name are lost
        {" -15 Ann Lee", "Ann Lee (-15)"},
        {" 017 Oct", "Oct (15)"},
        {" 0x1F Hex", "Hex (31)"},
        {"Ann", "Ann (0)"},  // no number: the whole text is the name
        {"  Ann", "  Ann (0)"},
        {" 15", " (15)"},
        {"", " (0)"},
        // Past the range of a long the number saturates, then narrows to 32 bits.
        {" 0x40000000000000000 Big", "Big (-1)"},
        {" 92233720368547758080 Big", "Big (-1)"},
        {" -92233720368547758080 Big", "Big (0)"},
    };
    for (const CCase& c : cases)
        m_client.OnUserJoined(c.text);

    ASSERT_EQ(m_view.m_users.size(), cases.size());
    for (std::size_t k = 0; k < cases.size(); ++k)
        EXPECT_EQ(m_view.m_users[cases.size() - 1 - k], cases[k].user) << '"' << cases[k].text << '"';
}

TEST_F(CClientRosterTest, NewUserTextAgreesWithTheLibraryScan)
{
    // Texts built from the characters a number can start with, some long
    // enough to overflow, drawn from a fixed sequence so a failure repeats.
    const std::string alphabet = " \t+-0123456789xXaFg";
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7FFF; };
    int compared = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const unsigned length = next() % 32;
        for (unsigned k = 0; k < length; ++k)
            text.push_back(alphabet[next() % alphabet.size()]);
        const CNewUserText ours = ScanNewText(text);
        const auto library = LibraryScan(text);
        ASSERT_EQ(ours.ping, library.first) << '"' << text << '"';
        ASSERT_EQ(ours.name, library.second) << '"' << text << '"';
        ++compared;
    }
    EXPECT_EQ(compared, 20000);
}

TEST_F(CClientRosterTest, LeaveWalksTheWholeRoomAndLeavesNoWalkBehind)
{
    for (const char* text : {" 1 Ann", " 2 Bob", " 3 Ann", " 4 Ann"})
        m_client.OnUserJoined(text);

    m_client.OnUserLeft("Ann");  // head, middle and tail all go

    EXPECT_EQ(m_view.m_users, std::vector<std::string>{"Bob (2)"});
    CUserList& roster = m_client.Roster();
    EXPECT_EQ(roster.m_nCount, 1);
    EXPECT_EQ(roster.m_pHead->pNext, nullptr);

    m_client.OnUserLeft("Bob");
    m_client.OnUserLeft("Bob");  // on an empty room: nothing to remove, still redrawn
    EXPECT_EQ(roster.m_nCount, 0);
    EXPECT_EQ(roster.m_pHead, nullptr);
    EXPECT_EQ(m_view.m_events.back(), "users");
}

// A server that announces ever new users cannot grow the copy of the room
// past its bounds: 100,000 users, or 16 MiB of names. Users beyond them are
// not listed, and a leave makes room again.
TEST(CClientRoomBoundTest, AnnouncementsBeyondTheBoundsAreNotListed)
{
    class CQuietView : public IClientView {
        void AppendLog(const std::string&) override {}
        void UpdateUserList(CUserList&) override {}
        void ClearUserList() override {}
        void UpdateTraffic() override {}
        void ShowMessage(const std::string&) override {}
        void OnRoomLine() override {}
    } view;
    CChatClient client;
    client.Init(&view);
    CUserList& roster = client.Roster();

    for (std::int32_t k = 0; k <= CChatClient::MAX_ROOM_COUNT; ++k)
        client.OnUserJoined(" 0 a");
    EXPECT_EQ(roster.m_nCount, CChatClient::MAX_ROOM_COUNT);
    client.OnUserLeft("a");
    client.OnUserJoined(" 0 b");
    EXPECT_EQ(roster.m_nCount, 1);
    client.OnUserLeft("b");

    const std::string name(500, 'n');
    const auto fit = static_cast<std::int32_t>(CChatClient::MAX_ROOM_NAME_BYTES / name.size());
    for (std::int32_t k = 0; k < fit + 10; ++k)
        client.OnUserJoined(" 0 " + name);
    EXPECT_EQ(roster.m_nCount, fit);
    client.OnUserLeft(name);
    client.OnUserJoined(" 0 " + name);
    EXPECT_EQ(roster.m_nCount, 1);
}
