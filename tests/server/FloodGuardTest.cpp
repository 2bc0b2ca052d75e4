// Flood control at the server: a member's flood is cut to its burst and its
// rate, whatever it sends, while the others' lines go through; the flooder
// alone is told, and the flood ends with one log line.

#include <string>
#include <vector>

#include "ServerFixture.h"

using namespace std::chrono_literals;

TEST_F(CServerTest, AFloodIsCutToItsBurstAndRateAndOnlyTheFlooderIsTold)
{
    // A burst of 10, then 5 a second; told at most every 400 ms.
    CServerLimits limits;
    limits.flood = {true, 10, 5, 400ms};
    m_server.SetLimits(limits);
    CLoopbackDatagram ann, bob;
    AddMember("Ann", 0, ann);
    AddMember("Bob", 0, bob);
    ann.Receive(2, 2000);  // Bob's announcements
    // 300 of every kind at once: lines, pings, unknown types.
    for (int i = 0; i < 300; ++i)
        ann.SendToServer(i % 3 == 0 ? FormatChat(std::to_string(i)) + '\0' : std::string(1, i % 3 == 1 ? HDR_PING : '\x09'));
    bob.SendToServer(FormatChat("still here") + '\0');
    ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatRelay("Bob", "still here")); }));

    // Bob hears his own line and at most Ann's burst and what its rate let
    // through meanwhile; Ann hears that she was cut, Bob does not.
    ASSERT_TRUE(Pump([&] { return m_view.LoggedPrefix("Flood from Ann at 127.0.0.1:"); }));
    const std::vector<std::string> toBob = bob.Receive(0, 0);
    const auto fromAnn = std::count_if(toBob.begin(), toBob.end(), [](const std::string& d) { return d.starts_with("\x02<Ann> "); });
    EXPECT_GE(fromAnn, 1);
    EXPECT_LE(fromAnn, 10);
    EXPECT_NE(std::find(toBob.begin(), toBob.end(), FormatRelay("Bob", "still here") + '\0'), toBob.end());
    EXPECT_EQ(std::count_if(toBob.begin(), toBob.end(), [](const std::string& d) { return d.starts_with("\x02* Slow down"); }), 0);
    const std::vector<std::string> toAnn = ann.Receive(0, 0);
    std::vector<std::string> notices;
    for (const std::string& datagram : toAnn)
        if (datagram.starts_with("\x02* Slow down: "))
            notices.push_back(datagram);
    ASSERT_EQ(notices.size(), 1u);
    int told = 0;
    EXPECT_EQ(std::sscanf(notices[0].c_str(), "\x02* Slow down: %d of your lines were not relayed", &told), 1);
    EXPECT_GE(told, 270);

    // One line for the flood; none for the datagrams it dropped.
    EXPECT_EQ(std::count_if(m_view.m_log.begin(), m_view.m_log.end(), [](const std::string& l) { return l.starts_with("Flood from "); }), 1);
    EXPECT_LE(std::count_if(m_view.m_log.begin(), m_view.m_log.end(), [](const std::string& l) { return l.starts_with("Unkown packet"); }), 10);

    // Once it keeps to its rate, its lines go through again, and its leave
    // goes through whenever it comes.
    ann.SendToServer(FormatChat("sorry") + '\0');
    EXPECT_TRUE(Pump([&] { return m_view.Logged(FormatRelay("Ann", "sorry")); }));
    for (int i = 0; i < 50; ++i)
        ann.SendToServer(std::string(1, HDR_PING));
    ann.SendToServer(FormatBare(HDR_LEAVE) + '\0');
    EXPECT_TRUE(Pump([&] { return Members() == 1; }));
}
