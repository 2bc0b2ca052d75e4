#include "PollLoop.h"

#include <cerrno>

namespace {
// A hang-up or an error is news to a reader and a writer alike: the next
// call on the descriptor tells which.
constexpr short kReadReady = POLLIN | POLLERR | POLLHUP | POLLNVAL;
constexpr short kWriteReady = POLLOUT | POLLERR | POLLHUP | POLLNVAL;
}  // namespace

bool CPollLoop::Watch(int fd, CWatcher* pWatcher, unsigned events)
{
    if (fd < 0 || pWatcher == nullptr || (events & (WATCH_READ | WATCH_WRITE)) == 0) {
        errno = EINVAL;
        return true;
    }
    if (static_cast<std::size_t>(fd) >= m_entries.size())
        m_entries.resize(static_cast<std::size_t>(fd) + 1);
    m_entries[static_cast<std::size_t>(fd)] = {pWatcher, events, m_nextSerial++};
    m_bDirty = true;
    return false;
}

void CPollLoop::Unwatch(int fd)
{
    if (!IsWatched(fd))
        return;
    m_entries[static_cast<std::size_t>(fd)] = {};
    m_bDirty = true;
}

bool CPollLoop::IsWatched(int fd) const
{
    return fd >= 0 && static_cast<std::size_t>(fd) < m_entries.size() &&
           m_entries[static_cast<std::size_t>(fd)].pWatcher != nullptr;
}

bool CPollLoop::StillWatched(const CFired& f) const
{
    const CEntry& entry = m_entries[static_cast<std::size_t>(f.fd)];
    return entry.pWatcher != nullptr && entry.serial == f.serial;
}

int CPollLoop::RunOnce(int timeoutMs)
{
    if (m_bDirty) {
        m_pollfds.clear();
        for (std::size_t fd = 0; fd < m_entries.size(); ++fd) {
            const CEntry& entry = m_entries[fd];
            if (entry.pWatcher == nullptr)
                continue;
            const short events = static_cast<short>(((entry.events & WATCH_READ) ? POLLIN : 0) |
                                                    ((entry.events & WATCH_WRITE) ? POLLOUT : 0));
            m_pollfds.push_back({static_cast<int>(fd), events, 0});
        }
        m_bDirty = false;
    }

    const int ready = ::poll(m_pollfds.data(), m_pollfds.size(), BoundWait(timeoutMs));
    if (ready < 0 && errno != EINTR)
        return -1;  // the loop itself is broken: the caller must not just go round again

    // Collect first, then deliver: a handler may unwatch or close any socket,
    // and a closed descriptor may be reused by a new socket within this pass.
    m_fired.clear();
    if (ready > 0)
        for (const pollfd& p : m_pollfds)
            if (p.revents != 0)
                m_fired.push_back({p.fd, p.revents, m_entries[static_cast<std::size_t>(p.fd)].serial});

    int delivered = 0;
    for (const CFired& f : m_fired) {
        // Looked up afresh before each call: a handler may unwatch the
        // descriptor, or watch a new one and so move the table.
        const auto at = static_cast<std::size_t>(f.fd);
        if (StillWatched(f) && (m_entries[at].events & WATCH_READ) && (f.revents & kReadReady)) {
            m_entries[at].pWatcher->OnReadable();
            ++delivered;
        }
        if (StillWatched(f) && (m_entries[at].events & WATCH_WRITE) && (f.revents & kWriteReady)) {
            m_entries[at].pWatcher->OnWritable();
            ++delivered;
        }
    }
    return delivered + RunDueTimers();
}
