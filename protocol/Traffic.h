#pragma once
// The process-wide traffic totals. Every successful send or receive of the
// program's own socket code adds its byte count; nothing ever resets them.
// They are 64-bit so that a long-running server never shows a wrapped total.

#include <cstdint>

extern std::int64_t g_bytesRead;
extern std::int64_t g_bytesWritten;
