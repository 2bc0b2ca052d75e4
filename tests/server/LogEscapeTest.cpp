// The headless server's log escaping: no byte a peer sends can end a log
// line, start a forged one, or reach the terminal as a command, while text
// in any script stays readable.

#include <gtest/gtest.h>

#include <string>

#include "LogEscape.h"

using namespace std::string_literals;

TEST(CLogEscapeTest, ControlAndInvalidBytesAreEscapedAndTextIsKept)
{
    const struct {
        std::string in;
        std::string out;
    } table[] = {
        {"Welcome guest", "Welcome guest"},
        // A logged datagram's type byte, and a name that forges a line.
        {"\x02<guest> hi", "\\x02<guest> hi"},
        {"x\r\nNew Connection Accepted from: 10.0.0.66", "x\\x0d\\x0aNew Connection Accepted from: 10.0.0.66"},
        {"a\0b\tc\x7f"s, "a\\x00b\\x09c\\x7f"},
        // ESC sequences: window title, clear screen, colour.
        {"\x1b]0;owned\x07\x1b[2J\x1b[31m", "\\x1b]0;owned\\x07\\x1b[2J\\x1b[31m"},
        // A backslash is doubled, so a peer's "\x0a" cannot pass for an escape.
        {"\\x0a\\", "\\\\x0a\\\\"},
        // Names in other scripts, up to the last code point.
        {"\xe5\xbc\xa0\xe4\xbc\x9f", "\xe5\xbc\xa0\xe4\xbc\x9f"},
        {"Zo\xc3\xab \xf0\x9f\x98\x80 \xc2\xa0 \xf4\x8f\xbf\xbf", "Zo\xc3\xab \xf0\x9f\x98\x80 \xc2\xa0 \xf4\x8f\xbf\xbf"},
        // C1 controls (CSI, NEL) are valid UTF-8 that terminals may obey.
        {"\xc2\x9b""2J\xc2\x85", "\\xc2\\x9b""2J\\xc2\\x85"},
        // Not UTF-8: Latin-1, stray and cut sequences; what follows is kept.
        {"caf\xe9", "caf\\xe9"},
        {"\x80" "a\xe5\xbc" "b\xe5\xbc", "\\x80" "a\\xe5\\xbc" "b\\xe5\\xbc"},
        // Overlong forms of "/" and "\n", a surrogate, past U+10FFFF.
        {"\xc0\xaf\xe0\x80\x8a", "\\xc0\\xaf\\xe0\\x80\\x8a"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"\xf4\x90\x80\x80\xf5\xff", "\\xf4\\x90\\x80\\x80\\xf5\\xff"},
    };
    for (const auto& row : table)
        EXPECT_EQ(EscapeLogText(row.in), row.out) << "input: " << ::testing::PrintToString(row.in);
}
