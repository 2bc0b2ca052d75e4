#pragma once
// Whole lines to one output stream (standard output or error) without ever
// making the loop wait for its reader. What the reader has not taken yet
// waits in a bounded buffer and goes out when the loop finds the stream
// writable; a line that does not fit is dropped and counted, and once the
// buffer is half empty again one line says how many were lost. Does not own
// the descriptor it is given; owns the one it may open on the same stream.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "EventLoop.h"

class CLogWriter : private CWatcher {
public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

    // Looks at what fd is and prepares to write to it without blocking.
    // Lines are flushed by the loop that is current now, if any.
    explicit CLogWriter(int fd, std::size_t capacity = kDefaultCapacity);
    // Gives back what it changed on the stream; drops what is still queued.
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // Queue line and "\n" and write what the reader takes now.
    void WriteLine(std::string_view line);
    // Write what is queued, waiting up to the deadline for the reader.
    // Returns how many lines were lost: dropped since the last notice, or
    // still queued when time ran out (those are dropped now).
    [[nodiscard]] std::uint64_t Flush(CEventLoop::Clock::time_point deadline);

    // The line that stands for n lost lines.
    static std::string DroppedNotice(std::uint64_t n);
    // What the notice of lost lines begins with on this stream (a journal
    // wants its priority there, as on every other line).
    void SetNoticePrefix(std::string prefix) { m_noticePrefix = std::move(prefix); }

private:
    // How the stream is written without blocking the loop.
    enum class EMode {
        Plain,    // a file or a disk: a write never waits on a reader
        Socket,   // send() with MSG_DONTWAIT, as under a service manager's journal
        Private,  // our own non-blocking open of the same pipe or terminal
        Shared,   // O_NONBLOCK set on the shared stream, cleared again at the end
    };

    void OnReadable() override {}
    void OnWritable() override;

    std::size_t Queued() const { return m_buffer.size() - m_nHead; }
    [[nodiscard]] ssize_t Put(const char* pData, std::size_t size);  // as write(2): -1 and errno if it failed
    // Write until the stream would block, fails, or nothing is left.
    void Drain();
    // Queue the notice of dropped lines if it is owed and fits, when the
    // buffer is down to half (or at any level if bAnyRoom).
    void QueueNotice(bool bAnyRoom);
    // Drain, and watch the stream for writing exactly while a rest is queued.
    void WriteOut();

    int m_fd;
    EMode m_mode = EMode::Plain;
    int m_savedFlags = -1;  // Shared: the stream's flags before we changed them
    std::size_t m_nCapacity;
    std::string m_buffer;   // queued bytes from m_nHead on
    std::size_t m_nHead = 0;
    std::uint64_t m_nDropped = 0;  // lines lost since the last notice
    std::string m_noticePrefix;
    CEventLoop* m_pLoop = nullptr;
    bool m_bWatching = false;
    bool m_bBroken = false;  // the reader is gone or the stream failed: write no more
};
