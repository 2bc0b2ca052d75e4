// Sign-ons that try to turn the server against its own room, or to hold it.

#include <cerrno>
#include <vector>

#include "ServerFixture.h"
#include "SyscallShim.h"

using namespace std::chrono_literals;

namespace {

class CSelfPortTest : public CServerTest, public testing::WithParamInterface<const char*> {};

}  // namespace

// A client on the server's machine that names the server's own datagram port
// would make the server a member of its own room: each broadcast would come
// back to it as that member's chat and go out again, longer, to everyone,
// about a hundred and sixty times for one line. The sign-on is abandoned.
TEST_P(CSelfPortTest, SignOnNamingTheServersOwnPortAddsNoOne)
{
    CLoopbackDatagram ann;
    AddMember("Ann", 0, ann);
    CLoopbackStream conn(SIGNON_PORT, GetParam());
    ASSERT_TRUE(conn.IsOpen());
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

// A port the server can never send to: the member could never be removed,
// and every broadcast would log a failure and leave its text unlogged.
TEST_F(CServerTest, SignOnNamingPortZeroAddsNoOne)
{
    CLoopbackDatagram ann;
    AddMember("Ann", 0, ann);
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(EncodeHello("Zed") + "\x05\x05" + EncodePortNotice(0));
    ASSERT_TRUE(PumpUntilLogged("Sign-on from 127.0.0.1 abandoned: it named port 0"));
    EXPECT_EQ(Members(), 1);
    EXPECT_TRUE(ann.Idle());
    m_view.m_log.clear();
    EXPECT_FALSE(m_server.SendToAll(FormatChat("x"), ELogLevel::Info));
    EXPECT_EQ(m_view.m_log, std::vector<std::string>{FormatChat("x")});
}

// When the server cannot tell whether the address is its own (here: no
// descriptor is left for the probe), it takes it to be.
TEST_F(CServerTest, OwnPortGuardRefusesWhenItCannotTell)
{
    CLoopbackStream conn(SIGNON_PORT);
    conn.Send(EncodeHello("") + "\x05\x05" + EncodePortNotice(htons(BROADCAST_PORT)));
    ASSERT_TRUE(PumpUntilLogged("Receiving Client Information..."));
    {
        CFailCalls noDescriptors(g_nFailSocket, EMFILE);
        ASSERT_TRUE(PumpUntilLogged("Sign-on from"));
    }
    EXPECT_EQ(m_view.m_log.back(), "Sign-on from 127.0.0.1 abandoned: it named the server's own port");
    EXPECT_EQ(Members(), 0);
}
