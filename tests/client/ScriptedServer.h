#pragma once
// A stand-in server for the client's tests, made of raw POSIX sockets on
// 127.0.0.1: a listener on SIGNON_PORT whose sign-on is played by a script in
// a thread of its own, and a datagram socket on BROADCAST_PORT driven from
// the test's thread. Every wait is bounded. It never touches the traffic
// totals. Owns its sockets and its thread.

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// The server's end of one sign-on connection, as a script sees it.
struct CScriptStream {
    int fd = -1;

    void Send(const std::string& bytes) const;
    // As much of bytes as fits within a short wait; false once the peer has
    // gone, so a server that streams for ever learns when to stop.
    bool SendSome(const std::string& bytes) const;
    // One byte per segment, so the peer's reads see every message in pieces.
    void SendTrickled(const std::string& bytes) const;
    // Up to count bytes, fewer if the peer closes or nothing comes in time.
    std::string Read(std::size_t count) const;
    // The hello: bytes up to and including the zero after the version byte.
    std::string ReadHello() const;
    // End this side's sending; the peer reads end of stream after the rest.
    void CloseSending() const;
    // True if the peer closes its end in time; what it sends first is dropped.
    bool WaitClosed() const;
};

class CScriptedServer {
public:
    CScriptedServer();
    ~CScriptedServer();  // joins the script, closes both sockets
    CScriptedServer(const CScriptedServer&) = delete;
    CScriptedServer& operator=(const CScriptedServer&) = delete;

    bool IsReady() const { return m_listenFd >= 0 && m_udpFd >= 0; }

    // Play script on the next sign-on connection, in its own thread; the
    // connection is closed when the script returns.
    void Serve(std::function<void(CScriptStream&)> script);
    void Join();
    // True if a connection is waiting to be accepted.
    bool HasPendingConnection() const;

    // A datagram from BROADCAST_PORT to 127.0.0.1:port (host order).
    void SendDatagram(std::uint16_t port, const std::string& bytes) const;
    // The next datagram that reaches BROADCAST_PORT; false if none in time.
    bool ReceiveDatagram(std::string* pBytes, int timeoutMs = 2000) const;

private:
    int m_listenFd = -1;
    int m_udpFd = -1;
    std::thread m_thread;
};

// Bytes from a list of values, for exact wire comparisons.
std::string Bytes(std::initializer_list<int> values);
// A little-endian int32, as the sign-on stream carries it.
std::string Int32(std::int32_t value);
