#include "Traffic.h"

std::int64_t g_bytesRead = 0;
std::int64_t g_bytesWritten = 0;
