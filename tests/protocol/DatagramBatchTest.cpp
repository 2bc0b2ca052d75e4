// The socket layer's batched datagram send and its receive-buffer size, on
// sockets of 127.0.0.1 with ports the system picks.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "AsyncSocket.h"
#include "Loopback.h"
#include "LoopbackDatagram.h"

TEST(CDatagramBatchTest, SendToEachStopsAtTheFirstFailureAndCountsFromTheFront)
{
    CAsyncSocket sender;
    ASSERT_FALSE(sender.Create(0, SOCK_DGRAM, 0));
    // More addresses than one system call takes, so the batch is split.
    std::vector<CLoopbackDatagram> receivers(150);
    // A destination no datagram can go to: port 0 (EINVAL).
    const sockaddr_in nowhere = LoopbackAddress(0);
    std::vector<const sockaddr_in*> to;
    for (const CLoopbackDatagram& r : receivers)
        to.push_back(&r.Address());
    const std::string datagram("\x02<Al> hi", 9);  // its zero byte included

    EXPECT_EQ(sender.SendToEach(datagram.data(), 9, to.data(), 150), 150);
    for (const CLoopbackDatagram& r : receivers)
        EXPECT_EQ(r.Receive(0, 0), std::vector<std::string>{datagram});

    // A failure past the first chunk: everything before it went, nothing after.
    to[100] = &nowhere;
    EXPECT_EQ(sender.SendToEach(datagram.data(), 9, to.data(), 150), 100);
    for (std::size_t i = 0; i < receivers.size(); ++i)
        EXPECT_EQ(receivers[i].Receive(0, 0).size(), i < 100 ? 1u : 0u) << i;

    // A failure at the very start of the second chunk.
    to[100] = &receivers[100].Address();
    to[64] = &nowhere;
    EXPECT_EQ(sender.SendToEach(datagram.data(), 9, to.data(), 150), 64);
    for (std::size_t i = 0; i < receivers.size(); ++i)
        EXPECT_EQ(receivers[i].Receive(0, 0).size(), i < 64 ? 1u : 0u) << i;

    // The failing address first: nothing went, and errno tells why.
    errno = 0;
    EXPECT_EQ(sender.SendToEach(datagram.data(), 9, to.data() + 64, 50), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(sender.SendToEach(datagram.data(), 9, to.data(), 0), 0);
    for (const CLoopbackDatagram& r : receivers)
        EXPECT_TRUE(r.Receive(0, 0).empty());
}

TEST(CDatagramBatchTest, ReceiveBufferGrowsToTheSizeAskedOrTheSystemsCap)
{
    CAsyncSocket socket;
    ASSERT_FALSE(socket.Create(0, SOCK_DGRAM, 0));
    long cap = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> cap;
    const int asked = 4 << 20;
    EXPECT_FALSE(socket.SetReceiveBuffer(asked));
    int size = 0;
    socklen_t len = sizeof size;
    ASSERT_EQ(::getsockopt(socket.Handle(), SOL_SOCKET, SO_RCVBUF, &size, &len), 0);
    // The system doubles what it grants; without root it grants at most its cap.
    const long granted = ::geteuid() == 0 ? asked : std::min<long>(asked, cap);
    EXPECT_EQ(size, 2 * granted);
}
