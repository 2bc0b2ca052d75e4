#pragma once
// Bytes written out by hand, for what a test needs that no codec of the
// protocol makes: single verdicts and probes, damaged and cut messages.

#include <initializer_list>
#include <string>

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}
