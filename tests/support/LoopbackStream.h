#pragma once
// One end of a TCP connection on 127.0.0.1, for playing a client or a server
// from a test or a benchmark: sends all it is given, reads exact counts
// through a buffer of its own, and never waits longer than its wait (5 s
// unless set) for the peer. Owns its descriptor; movable.

#include <cstdint>
#include <string>
#include <string_view>

class CLoopbackListener;

class CLoopbackStream {
public:
    CLoopbackStream() = default;  // not connected
    // Connects to 127.0.0.1:port (host order), from pFrom (another address
    // of this machine, such as "127.0.0.5") if given. A connect that the
    // listener's backlog takes completes at once, before the server runs.
    explicit CLoopbackStream(std::uint16_t port, const char* pFrom = nullptr);
    ~CLoopbackStream();
    CLoopbackStream(CLoopbackStream&& other) noexcept;
    CLoopbackStream& operator=(CLoopbackStream&& other) noexcept;
    CLoopbackStream(const CLoopbackStream&) = delete;
    CLoopbackStream& operator=(const CLoopbackStream&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void SetWait(int waitMs) { m_nWaitMs = waitMs; }

    // All of bytes. True if the peer went or took none of them in time.
    bool Send(std::string_view bytes) const;
    // Exactly count bytes into pOut. True if the stream ended or the wait ran
    // out first.
    bool ReadFull(void* pOut, std::size_t count);
    // Up to count bytes, fewer if the peer closes or nothing comes in time.
    std::string Read(std::size_t count);
    // Everything the peer sends until it closes, or until nothing has come
    // for a wait.
    std::string ReadToEnd();
    // How many bytes could be read now without waiting: for a test that runs
    // the peer in its own thread, and so cannot wait for it.
    std::size_t Pending() const;
    // Whether the peer has closed (or reset) the connection, waiting up to
    // waitMs for it; what it sent before is read and dropped.
    bool PeerClosed(int waitMs = 0);

    // No more bytes from this end; the peer can still be read.
    void CloseSending() const;
    void Close();
    // Close with a reset: the peer's next call fails at once, and this end
    // leaves no port in TIME_WAIT.
    void Reset();

private:
    friend class CLoopbackListener;
    explicit CLoopbackStream(int acceptedFd);

    // Read what comes within waitMs into the buffer. False if nothing came:
    // the peer closed, the stream failed or the wait ran out.
    bool Fill(int waitMs);
    bool FinishInterruptedConnect() const;  // true once a connect cut short by a signal is made
    void SendAtOnce() const;
    std::size_t Buffered() const { return m_in.size() - m_nInHead; }

    int m_fd = -1;
    int m_nWaitMs = 5000;
    std::string m_in;  // read ahead, from m_nInHead on
    std::size_t m_nInHead = 0;
};
