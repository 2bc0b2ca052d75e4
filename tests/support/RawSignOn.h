#pragma once
// The client's side of one sign-on to 127.0.0.1, made of a plain stream with
// bounded waits: step by step as a client does it, or giving up part-way as a
// broken or hostile client does. Owns its stream for the length of Run.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Protocol.h"

// Where a sign-on goes away instead of completing.
enum class EVanish {
    Never,            // complete the sign-on
    BeforeHello,      // connect, then nothing
    InHello,          // part of the hello
    AfterHello,       // the hello, then no reading
    AfterRoom,        // the verdict, room and probe read; no echo
    AfterFirstEcho,   // one echo
    AfterSecondEcho,  // both echoes, no port notice
    InPortNotice,     // one byte of the port notice
};
constexpr int kVanishStages = 8;

enum class ESignOn { Completed, Vanished, Refused, Failed };

struct CSignOnPlan {
    std::string name;
    std::uint16_t portNet = 0;                      // the port notice, network order
    EVanish vanish = EVanish::Never;
    bool bReset = false;                            // vanish with a reset instead of a close
    int stallMs = 0;                                // silence before vanishing
    unsigned char version = PROTOCOL_VERSION;       // the hello's first byte
    std::string from = {};                          // another address of this machine to come from; empty: 127.0.0.1
};

class CRawSignOn {
public:
    explicit CRawSignOn(CSignOnPlan plan) : m_plan(std::move(plan)) {}

    // Sign on as the plan says. Completed only once the server has closed the
    // stream after the port notice: by then the user is in the room. Failed
    // means the server did something a client could not follow, or did not
    // answer within the wait (10 s: the server serves one sign-on at a time).
    ESignOn Run();

    std::vector<std::pair<std::string, std::int32_t>> m_room;  // the room list as sent: name, ping
    std::int32_t m_ping = -1;                                  // the ping result

private:
    CSignOnPlan m_plan;
};
