#pragma once
// The client side of a sign-on for the soak, made of a plain blocking stream
// with bounded waits, that can also give up part-way as a broken or hostile
// client does. Owns nothing beyond the call.

#include <cstdint>
#include <string>

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
    std::uint16_t udpPortNet = 0;      // the port notice, network order
    EVanish vanish = EVanish::Never;
    bool reset = false;                // vanish with a reset instead of a close
    int stallMs = 0;                   // silence before vanishing
    unsigned char version = 2;         // the hello's first byte
};

// Sign on to 127.0.0.1:SIGNON_PORT as the plan says. Each wait is bounded by
// a few seconds; Failed means the server did something a client could not
// follow (or did not answer in time).
ESignOn SignOn(const CSignOnPlan& plan);

// Whether a socket listens on this TCP port of this host (read from
// /proc/net/tcp, so asking connects to nothing).
bool IsListening(std::uint16_t port);
