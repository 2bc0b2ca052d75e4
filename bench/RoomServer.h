#pragma once
// The server of the client rows: the headless core in a child process of its
// own, so that the client under measurement has this process to itself. The
// child is made before anything else exists (no Qt, no threads) and serves a
// fresh room on the fixed ports each time it is asked. Owns the child and its
// end of the link.

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "LoadLink.h"

class CRoomServer {
public:
    CRoomServer() = default;
    ~CRoomServer();  // tells the child to go and waits for it
    CRoomServer(const CRoomServer&) = delete;
    CRoomServer& operator=(const CRoomServer&) = delete;

    // Make the child; it keeps no descriptor of this process but its link.
    // True if it failed.
    bool Fork();
    // A fresh server listening on 2050/2051, or the old one gone. Each true
    // if it failed (the ports are taken, or the child is gone).
    bool Start();
    bool Stop();
    // Processor time the child has had so far.
    std::int64_t CpuNs() const;

private:
    static int ChildMain(int fd);

    pid_t m_pid = -1;
    std::optional<CLoadLink> m_link;  // made by Fork
};
