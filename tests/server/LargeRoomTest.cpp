// Broadcasts to a room larger than one batch of sends: every member still
// gets its own datagram in roster order, a member whose send fails costs no
// other member anything and is logged on its own, and every datagram sent is
// counted.

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "ServerFixture.h"
#include "SyscallShim.h"

TEST_F(CServerTest, BroadcastToALargeRoomGoesInRosterOrderAndSkipsOnlyFailedMembers)
{
    // 600 members, head first; those at the edges of the batches of sends
    // cannot be sent to (port 0: EINVAL). The roster is filled directly, so
    // nothing is announced.
    constexpr int kMembers = 600;
    const std::vector<int> failing = {0, 63, 64, 255, 256, 257, 511, 599};
    auto fails = [&](int i) { return std::find(failing.begin(), failing.end(), i) != failing.end(); };
    std::vector<std::unique_ptr<CLoopbackDatagram>> peers;
    for (int i = 0; i < kMembers; ++i)
        peers.push_back(std::make_unique<CLoopbackDatagram>());
    CUserList* pRoster = m_server.GetUserList();
    std::vector<std::uint16_t> expectedPorts;
    for (int i = kMembers - 1; i >= 0; --i) {
        auto* pUser = new CUserInfo;
        pUser->m_name = "m" + std::to_string(i);
        pUser->m_addr = fails(i) ? LoopbackAddress(0) : peers[static_cast<std::size_t>(i)]->Address();
        pRoster->AddHead(pUser);
    }
    for (int i = 0; i < kMembers; ++i)
        if (!fails(i))
            expectedPorts.push_back(peers[static_cast<std::size_t>(i)]->PortNetworkOrder());

    const std::int64_t written = g_bytesWritten;
    std::vector<sockaddr_in> handedOver;
    g_pHandedOver = &handedOver;
    EXPECT_TRUE(m_server.SendToAll("\x02x", ELogLevel::Info));
    g_pHandedOver = nullptr;
    // One error line for each member that failed, then the text, which
    // reached the others.
    const std::string error = "Error: " + std::to_string(EINVAL);
    std::vector<std::string> expectedLog(failing.size(), error);
    expectedLog.push_back("\x02x");
    EXPECT_EQ(m_view.m_log, expectedLog);
    const int reached = kMembers - static_cast<int>(failing.size());
    EXPECT_EQ(g_bytesWritten - written, 3 * reached);
    ASSERT_FALSE(m_view.m_traffic.empty());
    EXPECT_EQ(m_view.m_traffic.back().written, g_bytesWritten);

    // Handed to the system in roster order, head first, each member once.
    // (The order of arrival is the kernel's: delivery can finish on another
    // processor, and arrival stamps do not always follow the batch.)
    std::vector<std::uint16_t> handedPorts;
    for (const sockaddr_in& to : handedOver)
        handedPorts.push_back(to.sin_port);
    EXPECT_EQ(handedPorts, expectedPorts);
    int got = 0;
    for (int i = 0; i < kMembers; ++i)
        got += !fails(i) && peers[static_cast<std::size_t>(i)]->Next() == std::string("\x02x", 3) ? 1 : 0;
    EXPECT_EQ(got, reached);

    // Once every member can be reached, the text is logged once, after all.
    pRoster->BeginWalk();
    for (int i = 0; i < kMembers; ++i, pRoster->Advance())
        pRoster->Current()->m_addr = peers[static_cast<std::size_t>(i)]->Address();
    m_view.m_log.clear();
    EXPECT_FALSE(m_server.SendToAll("\x02y", ELogLevel::Info));
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"\x02y"});
    got = 0;
    for (const auto& pPeer : peers)
        got += pPeer->Next() == std::string("\x02y", 3) ? 1 : 0;
    EXPECT_EQ(got, kMembers);
}
