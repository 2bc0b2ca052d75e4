#include "PollLoop.h"

#include <cerrno>

bool CPollLoop::Watch(int fd, CWatcher* pWatcher)
{
    if (fd < 0 || pWatcher == nullptr) {
        errno = EINVAL;
        return true;
    }
    if (static_cast<std::size_t>(fd) >= m_entries.size())
        m_entries.resize(static_cast<std::size_t>(fd) + 1);
    m_entries[static_cast<std::size_t>(fd)] = {pWatcher, m_nextSerial++};
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

int CPollLoop::RunOnce(int timeoutMs)
{
    if (m_bDirty) {
        m_pollfds.clear();
        for (std::size_t fd = 0; fd < m_entries.size(); ++fd)
            if (m_entries[fd].pWatcher)
                m_pollfds.push_back({static_cast<int>(fd), POLLIN, 0});
        m_bDirty = false;
    }

    int ready = ::poll(m_pollfds.data(), m_pollfds.size(), timeoutMs);
    if (ready <= 0)
        return 0;  // a signal (EINTR) or nothing ready: the caller loops again

    // Collect first, then deliver: a handler may unwatch or close any socket,
    // and a closed descriptor may be reused by a new socket within this pass.
    m_fired.clear();
    for (const pollfd& p : m_pollfds)
        if (p.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL))
            m_fired.push_back({p.fd, m_entries[static_cast<std::size_t>(p.fd)].serial});

    int delivered = 0;
    for (const CFired& f : m_fired) {
        const CEntry& entry = m_entries[static_cast<std::size_t>(f.fd)];
        if (entry.pWatcher == nullptr || entry.serial != f.serial)
            continue;
        entry.pWatcher->OnReadable();
        ++delivered;
    }
    return delivered;
}
