#pragma once
// A well-behaved user of the soak: signs on with bare sockets, sends lines
// that carry their own sequence number and checksum, and checks each relayed
// line it receives: every line sent while it is a member must come, once and
// undamaged. Owns its datagram socket, whose receive buffer is big enough
// that the load side never drops.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "LoopbackDatagram.h"

// What the soak keeps of each line sent, indexed by its sequence number.
struct CSoakLine {
    std::uint16_t sender;
    std::uint16_t size;
    std::uint32_t hash;
};

std::uint32_t LineHash(std::string_view payload);

class CSoakUser {
public:
    enum class EState { Out, In, Leaving };

    explicit CSoakUser(int index);
    ~CSoakUser();
    CSoakUser(const CSoakUser&) = delete;
    CSoakUser& operator=(const CSoakUser&) = delete;

    // Sign on; lines from nextSeq on are owed to this user. True if failed.
    bool SignOn(std::uint64_t nextSeq);
    // Send line seq, "L<seq> <hash> <payload>", as a chat datagram.
    void SendLine(std::uint64_t seq, const std::string& payload);
    // Send the sign-off; lines before nextSeq are still owed. The server's
    // leave line to this user confirms it, and the socket closes then.
    void StartLeave(std::uint64_t nextSeq);
    // Close after the sign-off: lines from its sequence number on are no
    // longer owed, and those before it still missing are lost.
    void EndLeave();
    // Read every datagram waiting, checking each line against lines.
    void Drain(const std::vector<CSoakLine>& lines);
    // Count as lost every line before seq still missing.
    void Settle(std::uint64_t seq);

    // The oldest line still owed and not yet received.
    std::uint64_t LowWater() const { return m_missing.empty() ? m_next : *m_missing.begin(); }
    EState State() const { return m_state; }
    int Fd() const { return m_pUdp ? m_pUdp->Fd() : -1; }
    const std::string& Name() const { return m_name; }

    std::uint64_t m_signOns = 0;
    std::uint64_t m_received = 0;    // owed lines that came
    std::uint64_t m_lost = 0;        // owed lines that never came
    std::uint64_t m_damaged = 0;     // lines that match no line sent
    std::uint64_t m_duplicates = 0;  // lines that came twice
    std::uint64_t m_early = 0;       // lines sent just before the sign-on; not owed
    std::uint64_t m_foreign = 0;     // lines of hostile senders
    std::uint64_t m_oversize = 0;    // relays too long for a client's 511-byte receive
    std::uint64_t m_odd = 0;         // datagrams of a type the server never sends
    std::uint64_t m_shutdowns = 0;
    double m_leaveStarted = 0;       // seconds, the soak's clock
    double m_rejoinAt = 0;

private:
    void OnLine(std::string_view text, const std::vector<CSoakLine>& lines);
    void Close();

    int m_index;
    std::string m_name;
    std::unique_ptr<CLoopbackDatagram> m_pUdp;
    EState m_state = EState::Out;
    std::uint64_t m_joinSeq = 0;        // the first line owed
    std::uint64_t m_leaveSeq = 0;       // the first line no longer owed
    std::uint64_t m_next = 0;           // every owed line below it came or is missing
    std::set<std::uint64_t> m_missing;  // owed, below m_next, not come yet
};
