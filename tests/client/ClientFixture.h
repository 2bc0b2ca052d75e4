#pragma once
// A client core signed on to nothing yet, with a scripted server on the
// fixed ports of 127.0.0.1 and a poll loop in the test's thread. Holds the
// port lock for the test's whole life.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <functional>
#include <string>

#include "ChatClient.h"
#include "Loopback.h"
#include "PollLoop.h"
#include "RecordingView.h"
#include "ScriptedServer.h"
#include "SignOnScript.h"
#include "TestSupport.h"

class CClientFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.IsReady()) << "ports 2050/2051 on 127.0.0.1 are taken";
        m_client.Init(&m_view);
        m_client.SetSignOnLimit(std::chrono::seconds(3));
    }

    static sockaddr_in ServerAddress() { return LoopbackAddressOnly(); }

    // Sign on against script; the script's thread is over when this returns.
    bool LogonWith(const std::string& name, SignOnScript script)
    {
        m_server.Serve(std::move(script));
        const bool failed = m_client.Logon(ServerAddress(), name);
        m_server.Join();
        return failed;
    }

    bool Pump(const std::function<bool()>& pred) { return PumpUntil(m_loop, pred); }

    CPortLock m_lock;
    CScriptedServer m_server;
    CPollLoop m_loop;
    CRecordingView m_view;
    CChatClient m_client;
};
