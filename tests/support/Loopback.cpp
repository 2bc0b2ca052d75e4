#include "Loopback.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

sockaddr_in LoopbackAddressOnly()
{
    sockaddr_in addr{};
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

bool IsListening(std::uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        // "  sl  local_address rem_address   st ...": LISTEN is state 0A.
        char local[64], remote[64], state[8];
        if (std::sscanf(line.c_str(), "%*s %63s %63s %7s", local, remote, state) == 3 &&
            std::strstr(local, wanted) && std::strcmp(state, "0A") == 0)
            return true;
    }
    return false;
}

bool WaitReady(int fd, short events, int waitMs)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}
