#pragma once
// A started server core on the fixed ports, in a poll loop that the test
// pumps, with a recording window. Holds the port lock for its lifetime.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ChatServer.h"
#include "Loopback.h"
#include "LoopbackDatagram.h"
#include "LoopbackStream.h"
#include "PollLoop.h"
#include "Protocol.h"
#include "RecordingView.h"
#include "TestSupport.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "UserList.h"
#include "Wire.h"

class CServerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_server.Start(&m_view)); }

    bool Pump(const std::function<bool()>& done) { return PumpUntil(m_loop, done); }
    std::int32_t Members() { return m_server.GetUserList()->m_nCount; }

    // A member signed on without a sign-on, its datagrams going to peer;
    // the two announcements it gets are read off.
    CUserInfo* AddMember(const std::string& name, std::int32_t ping, const CLoopbackDatagram& peer)
    {
        auto* pUser = new CUserInfo;
        pUser->m_name = name;
        pUser->m_ping = ping;
        pUser->m_addr = peer.Address();
        m_server.AddUser(pUser);
        peer.Next();
        peer.Next();
        return pUser;
    }
    // The bytes a client queues for a whole sign-on: the hello, both echoes
    // (an echo of the server's echo is the same byte) and the port notice.
    static std::string SignOnBytes(const std::string& name, const CLoopbackDatagram& peer, char echo = PING_PROBE)
    {
        return EncodeHello(name) + echo + echo + EncodePortNotice(peer.PortNetworkOrder());
    }
    // Pump until the log holds a line starting with prefix.
    bool PumpUntilLogged(const std::string& prefix)
    {
        return Pump([&] { return m_view.LoggedPrefix(prefix); });
    }

    CPortLock m_lock;
    CPollLoop m_loop;
    CRecordingView m_view;
    CChatServer m_server;
};
