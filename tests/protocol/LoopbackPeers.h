#pragma once
// Helpers shared by the socket-layer tests: a socket's own address as seen on
// 127.0.0.1, and a datagram socket that counts its notifications.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

#include "AsyncSocket.h"

inline sockaddr_in Loopback(const CAsyncSocket& s)
{
    sockaddr_in a{};
    EXPECT_FALSE(s.GetSockName(a));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Reads one datagram per notification, then runs the test's handler if any.
class CProbe : public CAsyncSocket {
public:
    std::function<void(CProbe&)> onReceive;
    int notified = 0;

protected:
    void OnReceive(int) override
    {
        ++notified;
        char buf[16];
        Receive(buf, sizeof buf);
        if (onReceive)
            onReceive(*this);
    }
};
