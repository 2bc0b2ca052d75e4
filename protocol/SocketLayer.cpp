#include "SocketLayer.h"

#include <csignal>

bool SocketLayerStartup()
{
    return std::signal(SIGPIPE, SIG_IGN) == SIG_ERR;
}
