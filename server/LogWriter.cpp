#include "LogWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

CLogWriter::CLogWriter(int fd, std::size_t capacity)
    : m_fd(fd), m_nCapacity(capacity), m_pLoop(CEventLoop::Current())
{
    struct stat about;
    if (::fstat(fd, &about) < 0 || S_ISREG(about.st_mode) || S_ISBLK(about.st_mode))
        return;
    if (S_ISSOCK(about.st_mode)) {
        m_mode = EMode::Socket;
        return;
    }
    // A pipe or a terminal. Its open file description is shared with whoever
    // started us (for a terminal, the user's shell), so O_NONBLOCK is not set
    // on it: opening the same stream again gives a description of our own.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        m_fd = own;
        m_mode = EMode::Private;
        return;
    }
    // No /proc: change the shared description after all, and give its flags
    // back at the end.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) {
        m_savedFlags = flags;
        m_mode = EMode::Shared;
    }
}

CLogWriter::~CLogWriter()
{
    if (m_bWatching)
        m_pLoop->Unwatch(m_fd);
    if (m_mode == EMode::Private)
        ::close(m_fd);
    else if (m_mode == EMode::Shared)
        ::fcntl(m_fd, F_SETFL, m_savedFlags);
}

std::string CLogWriter::DroppedNotice(std::uint64_t n) { return std::to_string(n) + " log lines dropped"; }

void CLogWriter::WriteLine(std::string_view line)
{
    if (m_bBroken)
        return;
    QueueNotice(false);
    // Once a line is dropped, the next one may follow only the notice, so
    // that the gap shows where it is.
    if (m_nDropped > 0 || Queued() + line.size() + 1 > m_nCapacity) {
        ++m_nDropped;
        return;
    }
    m_buffer.append(line);
    m_buffer += '\n';
    // While the loop watches, the stream is known to be full: it says when.
    if (!m_bWatching)
        WriteOut();
}

std::uint64_t CLogWriter::Flush(CEventLoop::Clock::time_point deadline)
{
    std::uint64_t noticed = 0;  // the lines of a notice queued here
    for (;;) {
        Drain();
        // The notice goes last, once every line queued before it is out.
        if (Queued() == 0 && m_nDropped > 0) {
            noticed = m_nDropped;
            QueueNotice(true);
            Drain();
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - CEventLoop::Clock::now()).count();
        if (Queued() == 0 || m_bBroken || left <= 0)
            break;
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR)
            break;
    }
    const std::string_view rest(m_buffer.data() + m_nHead, Queued());
    std::uint64_t lost = m_nDropped + static_cast<std::uint64_t>(std::count(rest.begin(), rest.end(), '\n'));
    if (noticed > 0 && !rest.empty())
        lost += noticed - 1;  // what is left is the notice, which stood for them
    m_buffer.clear();
    m_nHead = 0;
    m_nDropped = 0;
    WriteOut();  // nothing queued: stop watching
    return lost;
}

void CLogWriter::OnWritable()
{
    Drain();
    QueueNotice(false);
    WriteOut();
}

ssize_t CLogWriter::Put(const char* pData, std::size_t size)
{
    if (m_mode == EMode::Socket)
        return ::send(m_fd, pData, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    return ::write(m_fd, pData, size);
}

void CLogWriter::Drain()
{
    while (Queued() > 0 && !m_bBroken) {
        const ssize_t n = Put(m_buffer.data() + m_nHead, Queued());
        if (n > 0)
            m_nHead += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        else
            m_bBroken = true;  // EPIPE, EIO of a hung-up terminal, a full disk: nobody will read it
    }
    if (m_bBroken || Queued() == 0) {
        m_buffer.clear();
        m_nHead = 0;
    } else if (m_nHead >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_nHead);  // each byte moves at most once on average
        m_nHead = 0;
    }
}

void CLogWriter::QueueNotice(bool bAnyRoom)
{
    if (m_nDropped == 0 || m_bBroken)
        return;
    const std::string notice = m_noticePrefix + DroppedNotice(m_nDropped);
    const std::size_t limit = bAnyRoom ? m_nCapacity : m_nCapacity / 2;
    if (Queued() + notice.size() + 1 > limit)
        return;
    m_buffer += notice;
    m_buffer += '\n';
    m_nDropped = 0;
}

void CLogWriter::WriteOut()
{
    Drain();
    const bool bWant = Queued() > 0 && m_pLoop != nullptr;
    if (bWant == m_bWatching)
        return;
    if (bWant)
        m_bWatching = !m_pLoop->Watch(m_fd, this, CEventLoop::WATCH_WRITE);
    else {
        m_pLoop->Unwatch(m_fd);
        m_bWatching = false;
    }
}
