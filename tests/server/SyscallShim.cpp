#include "SyscallShim.h"

#include <sys/socket.h>

#include <cerrno>

std::vector<sockaddr_in>* g_pHandedOver = nullptr;
int g_nFailAccept = 0;
int g_nFailSocket = 0;

extern "C" {
int __real_sendmmsg(int fd, mmsghdr* pMsgs, unsigned count, int flags);
int __real_accept4(int fd, sockaddr* pAddr, socklen_t* pLen, int flags);
int __real_socket(int domain, int type, int protocol);

int __wrap_sendmmsg(int fd, mmsghdr* pMsgs, unsigned count, int flags)
{
    const int sent = __real_sendmmsg(fd, pMsgs, count, flags);
    for (int i = 0; g_pHandedOver && i < sent; ++i)
        g_pHandedOver->push_back(*static_cast<const sockaddr_in*>(pMsgs[i].msg_hdr.msg_name));
    return sent;
}

int __wrap_accept4(int fd, sockaddr* pAddr, socklen_t* pLen, int flags)
{
    if (g_nFailAccept != 0) {
        errno = g_nFailAccept;
        return -1;
    }
    return __real_accept4(fd, pAddr, pLen, flags);
}

int __wrap_socket(int domain, int type, int protocol)
{
    if (g_nFailSocket != 0) {
        errno = g_nFailSocket;
        return -1;
    }
    return __real_socket(domain, type, protocol);
}
}
