#pragma once
// One sign-on, from the accept to the hand-over of its user to the core. Each
// step of the exchange runs when the connection is ready for it and never
// waits, so any number of sign-ons go on beside the room; deadlines of its
// own end one that stops answering. Owns the connection and, until the core
// takes it, the newcomer's record; not the loop, the core, the window or the
// gate, which owns it and is told once, by OnSignOnEnded, that it is over.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AsyncSocket.h"
#include "EventLoop.h"
#include "MissedChanges.h"
#include "ServerView.h"

class CChatServer;
class CSignOnGate;
class CUserInfo;

class CSignOn final : private CWatcher, private CTimer {
public:
    struct CLimits {
        // From the accept to the whole hello.
        std::chrono::milliseconds hello = std::chrono::seconds(10);
        // From the hello to the port notice: a LAN answers in milliseconds.
        std::chrono::milliseconds exchange = std::chrono::seconds(2);
    };

    CSignOn(CEventLoop& loop, CChatServer& server, IServerView& wnd, CSignOnGate& gate);
    ~CSignOn();  // closes the connection without a word
    CSignOn(const CSignOn&) = delete;
    CSignOn& operator=(const CSignOn&) = delete;

    // The connection to accept into, before Start.
    CAsyncSocket& Connection() { return m_conn; }
    // Log the new connection and wait for its hello. May end the sign-on at
    // once (the loop will not watch it): nothing may touch it after this.
    void Start(const sockaddr_in& peer, const CLimits& limits);
    const sockaddr_in& Peer() const { return m_peer; }

private:
    // The step the sign-on is at: what it reads next, or what it is sending.
    enum class EStep {
        Hello,       // read: the hello, up to its zero byte
        Room,        // send: the verdict, the room list, the ping probe
        FirstEcho,   // read: the client's echo of the probe
        Echo,        // send: that byte, back
        SecondEcho,  // read: the client's echo of it, which ends the ping
        Result,      // send: the ping
        PortNotice,  // read: the port of the client's datagram socket
    };
    // What a step came to.
    enum class EProgress {
        Done,     // on to the next
        Blocked,  // the connection has nothing to read, or no room to write
        Over,     // the sign-on has ended and is gone: touch nothing
    };

    void OnReadable() override { Run(); }
    void OnWritable() override { Run(); }
    void OnTimer() override;

    // Take every step the connection allows now, then wait for it.
    void Run();
    [[nodiscard]] EProgress ReadHello();
    [[nodiscard]] EProgress CheckHello();
    [[nodiscard]] EProgress ReadEcho();
    [[nodiscard]] EProgress ReadPortNotice();
    [[nodiscard]] EProgress Join();
    [[nodiscard]] EProgress Refuse(unsigned char version);
    // Send what is queued; the step after a send begins once all of it is out.
    [[nodiscard]] EProgress Flush();
    void Count(int sent);
    [[nodiscard]] EProgress Sent();
    // Watch the connection for what the step needs.
    [[nodiscard]] EProgress Wait();
    // Log that the sign-on is abandoned, and why, and end it.
    [[nodiscard]] EProgress GiveUp(const std::string& reason);
    // Tell the gate that the sign-on is over, which deletes it.
    [[nodiscard]] EProgress End();
    void Queue(std::shared_ptr<const std::string> pBytes);
    void Log(const std::string& text, ELogLevel level);

    CEventLoop& m_loop;
    CChatServer& m_server;
    IServerView& m_wnd;
    CSignOnGate& m_gate;
    CAsyncSocket m_conn;
    sockaddr_in m_peer{};
    std::string m_peerText;  // the peer's address, dotted
    CLimits m_limits;
    EStep m_step = EStep::Hello;
    unsigned m_nWatching = 0;  // what the loop watches the connection for
    std::string m_hello;       // as received, never past its zero byte
    std::unique_ptr<CUserInfo> m_pUser;
    CMissedChanges m_missed;   // what the room list it was sent does not show
    bool m_bFollowing = false; // the core tells m_missed of every change
    // Bytes to send, in order; the room list is shared with other sign-ons.
    std::vector<std::shared_ptr<const std::string>> m_out;
    std::size_t m_nOutSent = 0;  // of m_out's first part
    bool m_bVerdictOut = false;
    char m_echo = 0;
    std::int64_t m_pingStart = 0;  // ms, when the server's echo went
    char m_port[2] = {};
    int m_nPortGot = 0;
};
