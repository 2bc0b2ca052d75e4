#pragma once
// zephran-server as a child process of the soak (a CServerProcess), so that
// its memory and its traffic totals are its own. Its log is read on a thread
// of its own and counted by kind. Owns the process and the thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "ServerProcess.h"

struct CServerLogCounts {
    std::atomic<std::uint64_t> accepted{0};      // "New Connection Accepted from: "
    std::atomic<std::uint64_t> abandoned{0};     // "Sign-on from ... abandoned: ..."
    std::atomic<std::uint64_t> refused{0};       // "  Version 2 Failed...  Got Version %i"
    std::atomic<std::uint64_t> relayed{0};       // chat lines relayed, "\x02<...> ..."
    std::atomic<std::uint64_t> receiveErrors{0}; // "Recieve Error!"
    std::atomic<std::uint64_t> strangers{0};     // "packet detected from unknown user not signed on!"
    std::atomic<std::uint64_t> unknownTypes{0};  // "Unkown packet of type %i detected!"
    std::atomic<std::uint64_t> illegalNew{0};    // "HDR_NEW is an illegal packet type ..."
    std::atomic<std::uint64_t> sendErrors{0};    // "Error: %i"
    std::atomic<std::uint64_t> dropped{0};       // "%i log lines dropped": the reader fell behind
    std::atomic<std::uint64_t> heldBack{0};      // "... %i lines about A not logged": over a peer's budget
    std::atomic<std::uint64_t> peerBytes{0};     // of every line but chat, joins, leaves and the shutdown
};

class CSoakServer {
public:
    explicit CSoakServer(std::string program) : m_process(std::move(program)) {}
    ~CSoakServer();  // kills the process if it still runs
    CSoakServer(const CSoakServer&) = delete;
    CSoakServer& operator=(const CSoakServer&) = delete;

    // Start the program and wait until it listens. True if failed.
    bool Start();
    // Resident memory in KiB (VmRSS), or -1 once the process is gone.
    long RssKiB() const;
    // Whether the server runs under AddressSanitizer (its runtime is mapped).
    bool Sanitized() const;
    bool Running() { return m_process.Running(); }
    // SIGTERM, as Ctrl+C, then wait up to waitMs for the exit. The exit
    // status, 128 + the signal if a signal ended it, or -1 if it did not end.
    int Stop(int waitMs);

    CServerLogCounts m_log;

private:
    void ReadLog();
    void Count(const std::string& line);

    CServerProcess m_process;
    std::thread m_reader;
};
