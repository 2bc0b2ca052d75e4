#pragma once
// The flood rows of relay_bench, against a server program seen only through
// its ports and its standard output: a member floods the room at full speed,
// or a stranger from many ports does, while an honest member chats; how many
// of the honest lines arrive and when, how fast the server's standard output
// grows, and how many of the flooder's own lines were relayed and whether it
// was told. The floods are the soak's. Owns its rows.

#include <cstdint>
#include <string>
#include <vector>

#include "PacedMember.h"

class CFloodBench {
public:
    explicit CFloodBench(std::string program) : m_program(std::move(program)) {}

    // Both rows, each against a fresh server. True if the server did not start.
    bool Measure();
    void Print() const;

private:
    struct CRow {
        bool bMember = false;  // a member floods; otherwise a stranger
        CLineStats lines;      // the honest member's
        double seconds = 0;
        std::uint64_t floodSent = 0;
        std::uint64_t relayed = 0, notices = 0;  // the flooding member's own lines back to it, and its "* Slow down" lines
        double allowed = 0;                      // what the default flood limit relays in that time
        std::uint64_t stdoutBytes = 0;
        bool bSignOnFailed = false;
    };

    bool Flood(bool bMember);

    std::string m_program;
    std::vector<CRow> m_rows;
};
