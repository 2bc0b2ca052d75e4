#pragma once
// A chat client made of bare sockets, for driving a server from a test: it
// signs on (CRawSignOn) with a datagram socket that hears only the server's
// port, then sends and collects datagrams. Every wait is bounded. Owns its
// datagram socket.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackDatagram.h"

class CRawClient {
public:
    // The whole sign-on against 127.0.0.1. Blocks (each step at most a few
    // seconds), so run it on a thread of its own when the server runs in this
    // process. True if it failed.
    bool SignOn(const std::string& name);

    // Send text and its zero byte as one datagram to the server. True if the
    // datagram did not go out whole.
    bool Send(const std::string& text) const;
    // Collect whatever datagrams have arrived, without waiting.
    void Drain();
    // Whether a collected datagram equals bytes (zero byte included).
    bool Received(const std::string& bytes) const;

    std::vector<std::pair<std::string, std::int32_t>> m_room;  // the room list, as sent
    std::int32_t m_ping = -1;                                  // the ping result
    std::uint16_t m_udpPort = 0;                               // host order
    std::vector<std::string> m_datagrams;                      // collected, in order

private:
    CLoopbackDatagram m_udp;
};
