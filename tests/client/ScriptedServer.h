#pragma once
// A stand-in server for the client's tests, made of plain sockets on
// 127.0.0.1: a listener on SIGNON_PORT whose sign-on is played by a script in
// a thread of its own, and a datagram socket on BROADCAST_PORT driven from
// the test's thread. Every wait is bounded. It never touches the traffic
// totals. Owns its sockets and its thread.

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "LoopbackDatagram.h"
#include "LoopbackListener.h"
#include "LoopbackStream.h"

// A script plays the server's end of one sign-on connection.
using SignOnScript = std::function<void(CLoopbackStream&)>;

class CScriptedServer {
public:
    CScriptedServer();
    ~CScriptedServer();  // joins the script
    CScriptedServer(const CScriptedServer&) = delete;
    CScriptedServer& operator=(const CScriptedServer&) = delete;

    bool IsReady() const { return m_listener.IsOpen() && m_udp.Bound(); }

    // Play script on the next sign-on connection, in its own thread; the
    // connection is closed when the script returns.
    void Serve(SignOnScript script);
    void Join();
    // True if a connection is waiting to be accepted.
    bool HasPendingConnection() const { return m_listener.HasPending(); }

    // A datagram from BROADCAST_PORT to 127.0.0.1:port (host order).
    void SendDatagram(std::uint16_t port, const std::string& bytes) const { m_udp.SendTo(port, bytes); }
    // The next datagram that reaches BROADCAST_PORT; false if none in time.
    bool ReceiveDatagram(std::string* pBytes, int timeoutMs = 2000) const;

private:
    CLoopbackListener m_listener;
    CLoopbackDatagram m_udp;
    std::thread m_thread;
};

// What a script needs of its stream besides sending and reading.
// The hello: bytes up to and including the zero after the version byte.
std::string ReadHello(CLoopbackStream& stream);
// As much of bytes as fits within a short wait; false once the peer has
// gone, so a server that streams for ever learns when to stop.
bool SendSome(const CLoopbackStream& stream, const std::string& bytes);
// One byte per segment, so the peer's reads see every message in pieces.
void SendTrickled(const CLoopbackStream& stream, const std::string& bytes);
