#pragma once
// A non-blocking IPv4 socket, stream or datagram, that tells its owner through
// a virtual notification when it can be read (OnReceive) or has a connection
// pending (OnAccept). It does not own its event loop; it registers with the
// thread's current loop. A socket that asks for no notifications (an accepted
// connection, say) may be watched by its owner instead.
//
// Failure flags are true when the operation failed; counts are -1 on failure.
// Either way errno is left for the caller.

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <span>
#include <string_view>

#include "EventLoop.h"

// One datagram of a batch that CAsyncSocket::ReceiveFromEach takes.
struct CDatagramSlot {
    char* pBuf = nullptr;  // where it goes
    int size = 0;          // the room there
    int len = 0;           // how long it was; -1 if longer than size (it is lost)
    sockaddr_in from{};
};

class CAsyncSocket : private CWatcher, private CTimer {
public:
    // Readiness events that a socket may ask to be told of. Only FD_READ and
    // FD_ACCEPT lead to notifications; the others are accepted and ignored.
    enum : long {
        FD_READ = 0x01,
        FD_WRITE = 0x02,
        FD_OOB = 0x04,
        FD_ACCEPT = 0x08,
        FD_CONNECT = 0x10,
        FD_CLOSE = 0x20,
        FD_ALL_EVENTS = 0x3F,
    };

    CAsyncSocket() = default;
    virtual ~CAsyncSocket();  // closes the socket if it is open
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // Make a socket of the type (SOCK_STREAM or SOCK_DGRAM), register it for
    // the events and bind it to the address (every local interface unless
    // told) and the port (0: any). A stream socket that asks for FD_ACCEPT
    // reuses the address (see .cpp).
    [[nodiscard]] bool Create(unsigned port = 0, int type = SOCK_STREAM, long events = FD_ALL_EVENTS,
                              in_addr address = {htonl(INADDR_ANY)});
    [[nodiscard]] bool Listen(int backlog);
    // Take one pending connection into conn without waiting.
    [[nodiscard]] bool Accept(CAsyncSocket& conn, sockaddr_in* pPeer);
    // Stream: start a connection. Datagram: fix the peer; only its datagrams
    // are received from then on.
    [[nodiscard]] virtual bool Connect(const sockaddr_in& addr);
    [[nodiscard]] virtual int Send(const void* pBuf, int len);
    // A datagram longer than len is a failed receive (EMSGSIZE) and is lost.
    [[nodiscard]] virtual int Receive(void* pBuf, int len);
    // Stream: as Receive, but only up to and including the first byte equal
    // to last: what follows stays queued for the next receive.
    [[nodiscard]] int ReceiveThrough(void* pBuf, int len, char last);
    // Stream: the parts, in their order, in one write. Returns how many bytes
    // went, which may be fewer than all of them, or -1.
    [[nodiscard]] int SendParts(std::span<const std::string_view> parts);
    [[nodiscard]] int SendTo(const void* pBuf, int len, const sockaddr_in& to);
    // The same datagram to each of count addresses, in their order, with as
    // few system calls as the system allows. Stops at the first address that
    // fails: returns how many were sent from the front, or -1 (errno says
    // why) if the very first one failed. A datagram goes whole or not at all.
    [[nodiscard]] int SendToEach(const void* pBuf, int len, const sockaddr_in* const* ppTo, int count);
    [[nodiscard]] int ReceiveFrom(void* pBuf, int len, sockaddr_in& from);
    // Datagram: as many waiting datagrams as there are slots, in one call,
    // without waiting. Returns how many slots were filled, or -1 (errno says
    // why; EAGAIN if none was waiting).
    [[nodiscard]] int ReceiveFromEach(CDatagramSlot* pSlots, int count);
    [[nodiscard]] bool GetSockName(sockaddr_in& addr) const;
    // Stream: every write goes at once, never held back to be joined with a
    // later one (Nagle's algorithm). True if it could not be set.
    [[nodiscard]] bool SetNoDelay();
    // Let the system queue up to bytes of received datagrams for this socket
    // (it doubles the figure for its bookkeeping). As root the size may pass
    // the system's cap (net.core.rmem_max); otherwise it is cut to that cap.
    // True if neither could be set.
    [[nodiscard]] bool SetReceiveBuffer(int bytes);
    // Wait, blocking, until the socket can take a send; true if timeoutMs
    // passed first.
    [[nodiscard]] bool WaitWritable(int timeoutMs) const;
    void Close();  // closing a socket that is not open does nothing
    // No notifications for the time given, then they resume. For a listener
    // whose accept fails while the connection stays queued (the process is
    // out of descriptors): the loop would report it again at once, for ever.
    void Pause(std::chrono::milliseconds pause);

    bool IsOpen() const { return m_hSocket >= 0; }
    // The loop that tells this socket's notifications; null while there is none.
    CEventLoop* Loop() const { return m_pLoop; }
    int Handle() const { return m_hSocket; }
    int Type() const { return m_nType; }

protected:
    // Notifications, delivered by the event loop one at a time. The argument
    // is an error code that the program's handlers do not look at.
    virtual void OnAccept(int /*nErrorCode*/) {}
    virtual void OnReceive(int /*nErrorCode*/) {}

    // Adopt an already open descriptor (from accept); no notifications.
    void Attach(int fd, int type);

private:
    void OnReadable() override;
    void OnTimer() override;  // the end of a pause
    [[nodiscard]] bool WatchInLoop();  // register with the thread's current loop; true if failed

    int m_hSocket = -1;
    int m_nType = SOCK_STREAM;
    bool m_bListening = false;
    bool m_bWatchOnListen = false;  // asked for FD_ACCEPT: watched once listening
    CEventLoop* m_pLoop = nullptr;  // the loop that watches this socket, if any
    std::chrono::milliseconds m_pause{0};  // the length of the last pause
};
