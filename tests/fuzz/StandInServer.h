#pragma once
// The server's side of a client fuzz harness: a listener and a datagram
// socket on ports of the system's choice that stand in for the fixed ports,
// and the sign-on stream it accepts when the client connects. Owns its
// sockets and that stream.

#include <sys/socket.h>

#include <string>
#include <utility>

#include "FuzzCheck.h"
#include "LoopbackDatagram.h"
#include "LoopbackListener.h"
#include "LoopbackStream.h"
#include "NetShim.h"
#include "Protocol.h"
#include "StreamEnd.h"

class CStandInServer {
public:
    CStandInServer()
    {
        SetStandInPort(SOCK_STREAM, SIGNON_PORT, m_listener.Port());
        SetStandInPort(SOCK_DGRAM, BROADCAST_PORT, m_udp.Port());
    }

    // When the client connects (inside its connect, all on one thread),
    // accept the connection and queue bytes on it; with a reset the
    // connection then goes at once. A half-close is left to the shim
    // (CutNextStream), which ends the stream after its last piece.
    void AnswerConnect(std::string bytes, EStreamEnd end = EStreamEnd::HalfClose)
    {
        SetConnectHook([this, bytes = std::move(bytes), end](int) {
            m_stream = m_listener.Accept(5000);
            Require(m_stream.IsOpen(), "harness accepts");
            m_stream.Send(bytes);
            if (end == EStreamEnd::Reset)
                m_stream.Reset();
        });
    }
    // Whether the accepted stream is still there to be read.
    bool Answered() const { return m_stream.IsOpen(); }
    // What the client sent, up to its close (or a second of silence). The
    // harness then closes first, with a reset, so that the hundreds of
    // thousands of connections of a run leave no port in TIME_WAIT.
    std::string TakeClientBytes()
    {
        m_stream.SetWait(1000);
        std::string bytes = m_stream.ReadToEnd();
        m_stream.Reset();
        return bytes;
    }
    const CLoopbackDatagram& Datagrams() const { return m_udp; }

private:
    CLoopbackListener m_listener;
    CLoopbackDatagram m_udp;
    CLoopbackStream m_stream;
};
