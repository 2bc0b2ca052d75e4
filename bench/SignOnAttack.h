#pragma once
// Hostile connections to the sign-on port, on a thread of their own, from
// addresses 127.0.1.1, 127.0.1.2, ... as from machines of their own: silent
// ones, ones that send a valid hello and then stall, ones that also reset
// just before the server's 2 s limit, and groups whose hellos all arrive at
// once. Each connection the server closes is reopened at once. Owns its
// connections and its thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

enum class EAttack {
    Silent,        // connect, then nothing
    Stalled,       // a valid hello, then nothing: no echo of the ping probe
    ResetAt1900,   // stalled, then reset 1.9 s after the hello, and reopened
    HellosAtOnce,  // the hellos of an address sent together once all are connected; stalled
};

struct CAttackPlan {
    EAttack kind = EAttack::Silent;
    int addresses = 1;
    int perAddress = 8;
};

class CSignOnAttack {
public:
    explicit CSignOnAttack(const CAttackPlan& plan) : m_plan(plan) {}
    ~CSignOnAttack() { Stop(); }
    CSignOnAttack(const CSignOnAttack&) = delete;
    CSignOnAttack& operator=(const CSignOnAttack&) = delete;

    // The address of the attacker's index-th machine, from 0.
    static std::string Address(int index);
    static const char* Name(EAttack kind);

    void Start();
    // End the attack and close every connection.
    void Stop();
    // Connections the server closed, and connections reset by the attack.
    int Dropped() const { return m_nDropped; }
    int Resets() const { return m_nResets; }

private:
    struct CConnection {
        int address = 0;
        int fd = -1;
        bool bConnected = false;
        std::int64_t helloNs = 0;  // when the hello went; 0 before
    };

    void Run();
    void Open(CConnection& c) const;
    void Close(CConnection& c, bool bReset) const;
    bool SendHello(CConnection& c, int number) const;
    // Whether the connections of an address are all connected, none with its hello yet.
    bool GroupReady(int address) const;
    bool GroupClosed(int address) const;

    CAttackPlan m_plan;
    std::vector<CConnection> m_connections;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nDropped{0}, m_nResets{0};
    std::thread m_thread;
};
