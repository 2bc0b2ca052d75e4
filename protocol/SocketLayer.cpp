#include "SocketLayer.h"

#include <csignal>

#include "Traffic.h"

std::int64_t g_bytesRead = 0;
std::int64_t g_bytesWritten = 0;

bool SocketLayerStartup()
{
    return std::signal(SIGPIPE, SIG_IGN) == SIG_ERR;
}
