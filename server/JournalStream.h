#pragma once
// Whether a descriptor is the journal's stream. systemd connects a service's
// standard output (and error) to the journal through a stream socket and
// names it in JOURNAL_STREAM as "device:inode"; a line written there may
// begin with its syslog priority as "<N>", which the journal then keeps
// instead of its default. On a terminal, a pipe or a file the variable is
// absent or names another stream, and lines go out as they are.

#include <string>

#include "ServerView.h"

class CJournalStream {
public:
    // Whether fd is the stream that names (JOURNAL_STREAM's value; null
    // when it is not set) points at.
    static bool Names(const char* names, int fd);
    // Names, with the value this process was started with.
    static bool Is(int fd);
    // "<N>", the prefix of a line at level.
    static std::string Prefix(ELogLevel level);
};
