#pragma once
// A member of the room that sends a numbered line at a steady pace and times
// each line until its relay comes back to it: how long the room was held.
// Signs on from 127.0.0.1 through the shared raw sign-on. Owns its socket.

#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackDatagram.h"

// What became of a member's lines.
struct CLineStats {
    int lines = 0;             // sent
    int lost = 0;              // never came back
    int late = 0;              // came back after more than 100 ms, or never
    std::int64_t worstNs = 0;  // the longest delay of a line that came back
};

class CPacedMember {
public:
    CPacedMember(std::string name, std::int64_t gapNs);

    // True if the sign-on failed.
    bool SignOn();
    int Fd() const { return m_socket.Fd(); }
    // Send the line that is due, if one is, and time the relays that came.
    // Nanoseconds until the next line is due.
    std::int64_t Step();
    // Wait up to limitNs for the lines still owed, sending none.
    void Drain(std::int64_t limitNs);
    CLineStats Stats() const;

private:
    void ReadRelays();

    std::string m_name;
    std::int64_t m_nGapNs;
    std::int64_t m_nNextNs = 0;  // 0 until the first line
    CLoopbackDatagram m_socket;
    std::vector<std::int64_t> m_sentNs;
    std::vector<std::int64_t> m_delayNs;  // -1 until the line is back
};
