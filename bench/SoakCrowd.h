#pragma once
// The hostile part of the soak, on a thread of its own: members that send
// garbage, empty and oversize datagrams, pings, odd chat lines and
// sign-offs; members that never read, and some that vanish for good without
// a sign-off; strangers that never signed on; and sign-ons that vanish
// half-way, stall, or come with the wrong version. Owns its sockets.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackDatagram.h"

struct CCrowdCounts {
    std::atomic<std::uint64_t> signOns{0};   // members that completed a sign-on
    std::atomic<std::uint64_t> vanished{0};  // sign-ons given up half-way
    std::atomic<std::uint64_t> refused{0};   // hellos with the wrong version
    std::atomic<std::uint64_t> failed{0};    // sign-ons the server broke off
    std::atomic<std::uint64_t> garbage{0};   // datagrams of unknown or forbidden types
    std::atomic<std::uint64_t> oversize{0};
    std::atomic<std::uint64_t> empty{0};
    std::atomic<std::uint64_t> pings{0};
    std::atomic<std::uint64_t> chats{0};     // arbitrary bytes, relayed to everyone
    std::atomic<std::uint64_t> strangers{0}; // datagrams from sockets never signed on
    std::atomic<std::uint64_t> leaves{0};
};

class CSoakCrowd {
public:
    using Clock = std::chrono::steady_clock;

    CSoakCrowd(int members, unsigned seed);
    ~CSoakCrowd();  // waits for the thread; the sockets close
    CSoakCrowd(const CSoakCrowd&) = delete;
    CSoakCrowd& operator=(const CSoakCrowd&) = delete;

    void Start(Clock::time_point until);
    void Join();

    CCrowdCounts m_counts;

private:
    struct CMember {
        std::string name;
        std::unique_ptr<CLoopbackDatagram> pUdp;
        bool bIn = false;
        bool bDeaf = false;   // never reads what the server sends
        bool bGhost = false;  // gone for good, without a sign-off
        Clock::time_point rejoinAt;
    };

    void Run(Clock::time_point until);
    void Act(CMember& member);
    void SignOnMember(CMember& member);
    void VanishHalfWay();
    std::string Bytes(std::size_t size);  // random bytes, never zero or a line break

    std::vector<CMember> m_members;
    CLoopbackDatagram m_stranger;
    std::mt19937 m_random;
    std::thread m_thread;
};
