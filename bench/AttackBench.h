#pragma once
// The sign-on rows of relay_bench, against a server program seen only
// through its ports (this build's zephran-server, or another build's for a
// before-and-after comparison): a member's lines and honest sign-ons while
// hostile connections hold the sign-on port, a classroom of clients signing
// on at once, and how long SIGTERM takes with sign-ons open. Owns its rows.

#include <cstdint>
#include <string>
#include <vector>

#include "PacedMember.h"
#include "SignOnAttack.h"

class CAttackBench {
public:
    explicit CAttackBench(std::string program) : m_program(std::move(program)) {}

    // Every row, each against a fresh server. True if the server did not start.
    bool Measure();
    void Print() const;

private:
    struct CAttackRow {
        CAttackPlan plan;
        CLineStats lines;
        int ownOk = 0, ownTried = 0;      // honest sign-ons from the attacker's first address, done within 2 s
        int freshOk = 0, freshTried = 0;  // the same from addresses of their own
        int dropped = 0;                  // hostile connections the server closed
        bool bMemberFailed = false;
    };
    struct CClassRow {
        int clients = 0, signedOn = 0;
        std::int64_t medianNs = 0, p90Ns = 0, worstNs = 0;  // of those signed on
    };

    bool Attack(const CAttackPlan& plan);
    bool Classroom();
    bool StopWithSignOnsOpen();

    std::string m_program;
    std::vector<CAttackRow> m_attacks;
    std::vector<CClassRow> m_classes;
    std::vector<std::int64_t> m_stopNs;  // -1: did not end within the wait
};
