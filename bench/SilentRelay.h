#pragma once
// The silent-connection rows of relay_bench: while a server target serves,
// one member sends a line at a steady pace and connections to the sign-on
// port that never say a word come and go (each one reopened the moment the
// server drops it). For every line, the time until its relay is back at the
// member. The member and the silent connections run on a thread of their
// own, beside the target's loop. Owns the rows it measured, not the target.

#include <cstdint>
#include <string>
#include <vector>

class CServerTarget;

class CSilentRelay {
public:
    // One row for each number of silent connections, each against a fresh
    // server. True if the target did not start or the member went missing.
    bool Measure(CServerTarget& target);
    void Print() const;

private:
    struct CRow {
        std::string target;
        int silent = 0;           // silent connections held at once
        int lines = 0;            // lines sent
        int lost = 0;             // never came back
        int late = 0;             // came back after more than 100 ms, or never
        std::int64_t worstNs = 0; // the longest delay of a line that came back
        int dropped = 0;          // silent connections the server closed (and that were reopened)
        bool signOnFailed = false;
    };

    std::vector<CRow> m_rows;
};
