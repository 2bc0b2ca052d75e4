// Sign-ons that try to turn the server against its own room.

#include <arpa/inet.h>

#include "ServerFixture.h"

using namespace std::chrono_literals;

namespace {

// A sign-on connection from a chosen address of this machine.
class CBoundStream {
public:
    explicit CBoundStream(const char* pFrom) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = ::inet_addr(pFrom);
        const sockaddr_in to = LoopbackAddress(SIGNON_PORT);
        m_bConnected = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                       ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    }
    ~CBoundStream() { ::close(m_fd); }
    CBoundStream(const CBoundStream&) = delete;
    CBoundStream& operator=(const CBoundStream&) = delete;

    bool Connected() const { return m_bConnected; }
    void Send(const std::string& bytes) const { ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    int m_fd;
    bool m_bConnected = false;
};

class CSelfPortTest : public CServerTest, public testing::WithParamInterface<const char*> {};

}  // namespace

// A client on the server's machine that names the server's own datagram port
// would make the server a member of its own room: each broadcast would come
// back to it as that member's chat and go out again, longer, to everyone,
// about a hundred and sixty times for one line. The sign-on is abandoned.
TEST_P(CSelfPortTest, SignOnNamingTheServersOwnPortAddsNoOne)
{
    CRawDatagram ann;
    AddMember("Ann", 0, ann);
    CBoundStream conn(GetParam());
    ASSERT_TRUE(conn.Connected());
    conn.Send(EncodeHello("") + "\x05\x05" + EncodePortNotice(htons(BROADCAST_PORT)));
    ASSERT_TRUE(PumpUntilLogged(std::string("Sign-on from ") + GetParam() + " abandoned: it named the server's own port"));
    EXPECT_EQ(Members(), 1);

    // A line comes back to its sender once, and nothing else follows it.
    ann.SendToServer(FormatChat("hi") + '\0');
    ASSERT_TRUE(Pump([&] { return m_view.Logged(FormatRelay("Ann", "hi")); }));
    PumpFor(m_loop, 200ms);
    EXPECT_EQ(ann.Next(), FormatRelay("Ann", "hi") + '\0');
    EXPECT_TRUE(ann.Idle());
}

// Every 127/8 address is this machine's own, not only 127.0.0.1.
INSTANTIATE_TEST_SUITE_P(LocalAddresses, CSelfPortTest, testing::Values("127.0.0.1", "127.0.0.2"));
