#pragma once
// A count as a person reads it in a log line: 1024 as "1,024".

#include <cstdint>
#include <string>

inline std::string Grouped(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}
