// Broadcasts to a room larger than one batch of sends: every member still
// gets its own datagram in roster order, a member whose send fails costs no
// other member anything and is logged on its own, and every datagram sent is
// counted.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ServerFixture.h"

namespace {

// A member's datagram socket on 127.0.0.1 that reads without waiting and
// tells when the kernel received each datagram.
class CStampedPeer {
public:
    CStampedPeer() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0))
    {
        m_addr = LoopbackAddress(0);
        socklen_t len = sizeof m_addr;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&m_addr), sizeof m_addr);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&m_addr), &len);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    }
    ~CStampedPeer() { ::close(m_fd); }
    CStampedPeer(const CStampedPeer&) = delete;
    CStampedPeer& operator=(const CStampedPeer&) = delete;

    const sockaddr_in& Address() const { return m_addr; }
    // The next datagram and its arrival in nanoseconds; false if none waits.
    bool Next(std::string* pBytes, std::int64_t* pArrivalNs) const
    {
        char buf[600];
        char control[CMSG_SPACE(sizeof(timespec))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &msg, 0);
        if (n < 0)
            return false;
        pBytes->assign(buf, static_cast<std::size_t>(n));
        *pArrivalNs = 0;
        for (cmsghdr* pCmsg = CMSG_FIRSTHDR(&msg); pCmsg; pCmsg = CMSG_NXTHDR(&msg, pCmsg))
            if (pCmsg->cmsg_level == SOL_SOCKET && pCmsg->cmsg_type == SO_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(pCmsg), sizeof ts);
                *pArrivalNs = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
            }
        return true;
    }

private:
    int m_fd;
    sockaddr_in m_addr{};
};

}  // namespace

TEST_F(CServerTest, BroadcastToALargeRoomGoesInRosterOrderAndSkipsOnlyFailedMembers)
{
    // 600 members, head first; those at the edges of the batches of sends
    // cannot be sent to (port 0: EINVAL). The roster is filled directly, so
    // nothing is announced.
    constexpr int kMembers = 600;
    const std::vector<int> failing = {0, 63, 64, 255, 256, 257, 511, 599};
    auto fails = [&](int i) { return std::find(failing.begin(), failing.end(), i) != failing.end(); };
    std::vector<std::unique_ptr<CStampedPeer>> peers;
    for (int i = 0; i < kMembers; ++i)
        peers.push_back(std::make_unique<CStampedPeer>());
    CUserList* pRoster = m_server.GetUserList();
    for (int i = kMembers - 1; i >= 0; --i) {
        auto* pUser = new CUserInfo;
        pUser->m_name = "m" + std::to_string(i);
        pUser->m_addr = fails(i) ? LoopbackAddress(0) : peers[static_cast<std::size_t>(i)]->Address();
        pRoster->AddHead(pUser);
    }

    const std::int64_t written = g_bytesWritten;
    EXPECT_TRUE(m_server.SendToAll("\x02x"));
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

    // Loopback delivers within the send call, so the kernel's arrival stamps
    // follow the order of the sends: roster order, head first.
    std::int64_t previous = 0;
    int got = 0, inOrder = 0, extra = 0;
    for (int i = 0; i < kMembers; ++i) {
        std::string bytes;
        std::int64_t arrival = 0;
        if (!peers[static_cast<std::size_t>(i)]->Next(&bytes, &arrival))
            continue;
        got += bytes == std::string("\x02x", 3) && !fails(i) ? 1 : 0;
        inOrder += arrival >= previous ? 1 : 0;
        previous = arrival;
        extra += peers[static_cast<std::size_t>(i)]->Next(&bytes, &arrival) ? 1 : 0;
    }
    EXPECT_EQ(got, reached);
    EXPECT_EQ(inOrder, reached);
    EXPECT_EQ(extra, 0);

    // Once every member can be reached, the text is logged once, after all.
    pRoster->BeginWalk();
    for (int i = 0; i < kMembers; ++i, pRoster->Advance())
        pRoster->Current()->m_addr = peers[static_cast<std::size_t>(i)]->Address();
    m_view.m_log.clear();
    EXPECT_FALSE(m_server.SendToAll("\x02y"));
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{"\x02y"});
    got = 0;
    for (const auto& pPeer : peers) {
        std::string bytes;
        std::int64_t arrival = 0;
        got += pPeer->Next(&bytes, &arrival) && bytes == std::string("\x02y", 3) ? 1 : 0;
    }
    EXPECT_EQ(got, kMembers);
}
