#include "LogEscape.h"

#include <cstddef>

namespace {

// The length of the printable character that s starts with: an ASCII
// character from space to '~', or a well-formed UTF-8 sequence that is not a
// C1 control. 0 if s starts with anything else.
std::size_t PrintableAtStart(std::string_view s)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned lead = at(0);
    if (lead >= 0x20 && lead < 0x7F)
        return 1;
    // The lead byte fixes the length and the range of the second byte; the
    // narrowed ranges are what rule out overlong forms (E0, F0), surrogates
    // (ED) and code points past U+10FFFF (F4). C0, C1 and F5-FF never lead.
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2)
            low = 0xA0;  // U+0080-U+009F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string EscapeLogText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (const std::size_t n = PrintableAtStart(text.substr(i)); n > 0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        // One byte at a time: what follows a bad lead byte is looked at
        // afresh, so a good character right after it is kept.
        const auto byte = static_cast<unsigned char>(text[i++]);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}
