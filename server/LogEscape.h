#pragma once
// How a log line is written so that a person and a machine can trust it: a
// pure function of bytes, with no state and no output of its own.

#include <string>
#include <string_view>

// text with every byte that is not printable text written as \xNN (two
// lower-case hex digits) and each backslash doubled, so that no peer's bytes
// can end a line, start a forged one or reach the terminal as a command.
// Escaped: control bytes 0x00-0x1F, DEL, and every byte that is not part of
// well-formed UTF-8 (stray continuation bytes, cut sequences, overlong forms,
// surrogates, code points past U+10FFFF), as well as the C1 controls
// U+0080-U+009F, which terminals may obey like ESC sequences. Every other
// UTF-8 character, a name in any script, is kept as it is. The text is
// taken as UTF-8 whatever the locale says.
std::string EscapeLogText(std::string_view text);
