#include "PortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

CPortHolder::CPortHolder(int type, std::uint16_t port) : m_fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
{
    // Reusing the address gets past connections of earlier tests that wait
    // out their close, not past a socket that holds the port.
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    m_bHeld = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
              (type != SOCK_STREAM || ::listen(m_fd, 1) == 0);
}

CPortHolder::~CPortHolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
