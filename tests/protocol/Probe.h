#pragma once
// Helpers shared by the socket-layer tests: a socket's own address as seen on
// 127.0.0.1, and a datagram socket that counts its notifications.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

#include "AsyncSocket.h"
#include "Loopback.h"

inline sockaddr_in Loopback(const CAsyncSocket& s)
{
    sockaddr_in a{};
    EXPECT_FALSE(s.GetSockName(a));
    return LoopbackAddress(ntohs(a.sin_port));
}

// Reads one datagram per notification, then runs the test's handler if any.
class CProbe : public CAsyncSocket {
public:
    std::function<void(CProbe&)> m_onReceive;
    int m_nNotified = 0;

protected:
    void OnReceive(int) override
    {
        ++m_nNotified;
        char buf[16];
        static_cast<void>(Receive(buf, sizeof buf));  // the count is what is tested
        if (m_onReceive)
            m_onReceive(*this);
    }
};
