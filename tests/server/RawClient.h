#pragma once
// A chat client made of bare POSIX sockets, for driving a server from a test:
// it signs on byte by byte, then sends and collects datagrams. Every wait is
// bounded. Owns its two descriptors.

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CRawClient {
public:
    CRawClient() = default;
    ~CRawClient();
    CRawClient(const CRawClient&) = delete;
    CRawClient& operator=(const CRawClient&) = delete;

    // The client side of the whole sign-on against 127.0.0.1. Blocks (each
    // step at most a few seconds), so run it on a thread of its own when the
    // server runs in this process. True if it failed.
    bool SignOn(const std::string& name);

    // Send text and its zero byte as one datagram to the server.
    bool Send(const std::string& text);
    // Collect whatever datagrams have arrived, without waiting.
    void Drain();
    // Whether a collected datagram equals bytes (zero byte included).
    bool Received(const std::string& bytes) const;

    std::vector<std::pair<std::string, std::int32_t>> m_room;  // the room list, as sent
    std::int32_t m_ping = -1;                                  // the ping result
    std::uint16_t m_udpPort = 0;                               // host order
    std::vector<std::string> m_datagrams;                      // collected, in order

private:
    bool ReceiveAll(void* pBuf, int len);

    int m_tcp = -1;
    int m_udp = -1;
};

// Whether something on this host listens on the TCP port (from /proc/net/tcp,
// so that asking makes no connection).
bool IsListening(std::uint16_t port);
