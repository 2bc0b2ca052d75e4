#pragma once
// Blocking stream helpers of a fuzz harness on 127.0.0.1. Every wait is
// bounded; descriptors are the caller's to close.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "LoopbackDatagram.h"

// How the harness's side of a stream ends once its bytes are queued.
enum class EStreamEnd {
    HalfClose,  // no more bytes (the shim ends the stream), but the answer can still be read
    Reset,      // the connection is torn down at once
};

inline EStreamEnd StreamEndFrom(unsigned bit) { return bit ? EStreamEnd::Reset : EStreamEnd::HalfClose; }

// Close without leaving the port in TIME_WAIT: a fuzz run makes hundreds of
// thousands of connections.
inline void CloseAbortive(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

inline int ListenLoopback(std::uint16_t* pPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = LoopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::listen(fd, 4);
    socklen_t len = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
    *pPort = ntohs(local.sin_port);
    return fd;
}

inline int ConnectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline int AcceptWaiting(int listenFd, int waitMs)
{
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0)
        return -1;
    return ::accept(listenFd, nullptr, nullptr);
}

// The bytes fit the socket buffers (a fuzz input is a few KiB at most).
inline void WriteAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// End the harness's side as asked; returns the descriptor still to be read
// and closed, or -1 when the end went away with it. A half-close is left to
// the shim (CutNextStream), which ends the stream after its last piece.
inline int EndStream(int fd, EStreamEnd end)
{
    if (end == EStreamEnd::HalfClose)
        return fd;
    CloseAbortive(fd);
    return -1;
}

// Everything the other side sent, up to its close (or waitMs of silence).
inline std::string ReadUntilClosed(int fd, int waitMs)
{
    std::string bytes;
    char buf[4096];
    // A signal (libFuzzer's own timer) that cuts a wait short is waited out.
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}
