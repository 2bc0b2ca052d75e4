// How many sign-ons may be under way, and who makes room when there are too
// many: never the newcomer.

#include <memory>
#include <string>
#include <vector>

#include "ServerFixture.h"

namespace {

class CSignOnGateTest : public CServerTest {
protected:
    // A connection from address that says nothing, once the server has it.
    CLoopbackStream& Open(const std::string& from)
    {
        m_conns.push_back(std::make_unique<CLoopbackStream>(SIGNON_PORT, from.c_str()));
        const auto accepted = [&] { return std::count(m_view.m_log.begin(), m_view.m_log.end(), "Receiving Client Information..."); };
        const auto before = accepted();
        EXPECT_TRUE(Pump([&] { return accepted() > before; }));
        return *m_conns.back();
    }
    // Which of the connections opened so far the server has closed.
    std::vector<std::size_t> Closed()
    {
        std::vector<std::size_t> closed;
        for (std::size_t i = 0; i < m_conns.size(); ++i)
            if (m_conns[i]->PeerClosed())
                closed.push_back(i);
        return closed;
    }

    std::vector<std::unique_ptr<CLoopbackStream>> m_conns;  // in the order opened
};

}  // namespace

TEST_F(CSignOnGateTest, ANewcomerBeyondACapMakesRoomByTheOldestOfTheBusiestAddress)
{
    // Eight from one address; the ninth and tenth cost it its two oldest,
    // with one line for both (one a second for each address).
    for (int i = 0; i < 10; ++i)
        Open("127.0.0.5");
    EXPECT_EQ(Closed(), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(std::count(m_view.m_log.begin(), m_view.m_log.end(),
                         "Sign-on from 127.0.0.5 abandoned to make room: 8 of its sign-ons were under way"),
              1);

    // 256 in all: one of that address gives up, and 31 more addresses hold
    // 8 each, and one more holds 1. A newcomer from yet another address then
    // costs the busiest addresses' oldest sign-on: the first of 127.0.1.1.
    m_conns[2]->Close();
    ASSERT_TRUE(PumpUntilLogged("Sign-on from 127.0.0.5 abandoned: connection lost"));
    const std::size_t firstOfBusiest = m_conns.size();
    for (int a = 1; a <= 31; ++a)
        for (int i = 0; i < 8; ++i)
            Open("127.0.1." + std::to_string(a));
    Open("127.0.1.32");
    m_view.m_log.clear();
    Open("127.0.2.1");
    EXPECT_TRUE(m_view.Logged("Sign-on from 127.0.1.1 abandoned to make room: 256 sign-ons were under way"));
    EXPECT_EQ(Closed(), (std::vector<std::size_t>{0, 1, firstOfBusiest}));

    // A whole sign-on goes through beside them all, from the address that
    // held eight.
    CLoopbackDatagram bob;
    CLoopbackStream conn(SIGNON_PORT, "127.0.1.2");
    conn.Send(SignOnBytes("Bob", bob));
    EXPECT_TRUE(Pump([&] { return Members() == 1; }));
}
