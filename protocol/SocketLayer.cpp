#include "SocketLayer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

bool SocketLayerStartup()
{
    return std::signal(SIGPIPE, SIG_IGN) == SIG_ERR;
}

bool MayBeLocalAddress(in_addr address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    sockaddr_in probe{};
    probe.sin_family = AF_INET;
    probe.sin_addr = address;
    const bool notLocal = ::bind(fd, reinterpret_cast<const sockaddr*>(&probe), sizeof probe) != 0 &&
                          errno == EADDRNOTAVAIL;
    ::close(fd);
    return !notLocal;
}
