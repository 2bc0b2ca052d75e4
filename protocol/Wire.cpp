#include "Wire.h"

#include <cstring>

#include "Protocol.h"

namespace {

std::string Typed(char type, std::initializer_list<std::string_view> parts)
{
    std::size_t size = 1;
    for (std::string_view part : parts)
        size += part.size();
    std::string text;
    text.reserve(size);
    text.push_back(type);
    for (std::string_view part : parts)
        text.append(part);
    return text;
}

bool IsScanSpace(char c)
{
    // The C locale's white space, as scanf skips it.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

}  // namespace

std::string FormatNew(std::int32_t ping, std::string_view name)
{
    std::string number = std::to_string(ping);
    return Typed(HDR_NEW, {" ", number, " ", name});
}

std::string FormatChat(std::string_view line) { return Typed(HDR_CHAT, {line}); }

std::string FormatRelay(std::string_view name, std::string_view line)
{
    return Typed(HDR_CHAT, {"<", name, "> ", line});
}

std::string FormatJoinLine(std::string_view name)
{
    return Typed(HDR_CHAT, {"* ", name, " has joined the chat!"});
}

std::string FormatLeaveLine(std::string_view name)
{
    return Typed(HDR_CHAT, {"* ", name, " has left the chat!"});
}

std::string FormatLeave(std::string_view name) { return Typed(HDR_LEAVE, {name}); }

std::string FormatBare(char type) { return std::string(1, type); }

int DatagramType(std::string_view datagram)
{
    return static_cast<signed char>(datagram.front());
}

std::string_view TextUpToZero(std::string_view bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

std::string_view DatagramText(std::string_view datagram)
{
    return datagram.empty() ? datagram : TextUpToZero(datagram.substr(1));
}

CNewUserText ScanNewText(std::string_view text)
{
    CNewUserText result;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsScanSpace(text[i]))
        ++i;

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    // A leading 0 means octal, 0x hexadecimal. Like the C library's scan, a
    // "0x" is taken whole even when no hexadecimal digit follows: it reads 0.
    int base = 10;
    bool bareHexPrefix = false;
    if (i < n && text[i] == '0') {
        base = 8;
        if (i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            base = 16;
            i += 2;
            bareHexPrefix = true;
        }
    }

    // Accumulate like strtol into a 64-bit long, saturating, then narrow to
    // the 32-bit ping the way an int conversion of that long does. The
    // magnitude never passes 2^63 (the size of the most negative long), so
    // the multiplication cannot wrap.
    constexpr std::uint64_t kLimit = 1ULL << 63;
    const std::size_t firstDigit = i;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    while (i < n && DigitValue(text[i]) < base) {
        const auto digit = static_cast<unsigned>(DigitValue(text[i]));
        if (overflow || magnitude > (kLimit - digit) / static_cast<unsigned>(base))
            overflow = true;
        else
            magnitude = magnitude * static_cast<unsigned>(base) + digit;
        ++i;
    }
    if (i == firstDigit && !bareHexPrefix)
        return {0, std::string(text)};  // no number: nothing consumed

    std::int64_t value;
    if (overflow || (!negative && magnitude > static_cast<std::uint64_t>(INT64_MAX)))
        value = negative ? INT64_MIN : INT64_MAX;
    else if (negative)
        value = magnitude == (1ULL << 63) ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    else
        value = static_cast<std::int64_t>(magnitude);
    result.ping = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));

    while (i < n && IsScanSpace(text[i]))
        ++i;
    result.name.assign(text.substr(i));
    return result;
}

std::string EncodeInt32(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    const char bytes[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                           static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
    return std::string(bytes, 4);
}

std::int32_t DecodeInt32(const void* fourBytes)
{
    const auto* b = static_cast<const unsigned char*>(fourBytes);
    const std::uint32_t u = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    return static_cast<std::int32_t>(u);
}

std::string EncodeHello(std::string_view name)
{
    std::string hello = Typed(static_cast<char>(PROTOCOL_VERSION), {name});
    hello.push_back('\0');
    return hello;
}

std::string_view HelloName(std::string_view received)
{
    return received.size() <= 1 ? std::string_view() : TextUpToZero(received.substr(1));
}

std::string EncodeRoomEntry(std::string_view name, std::int32_t ping)
{
    std::string entry = EncodeInt32(static_cast<std::int32_t>(name.size() + 1));
    entry.append(name);
    entry.push_back('\0');
    entry.append(EncodeInt32(ping));
    return entry;
}

std::string EncodePortNotice(std::uint16_t portNetworkOrder)
{
    char bytes[2];
    std::memcpy(bytes, &portNetworkOrder, 2);
    return std::string(bytes, 2);
}

std::uint16_t DecodePortNotice(const void* twoBytes)
{
    std::uint16_t port;
    std::memcpy(&port, twoBytes, 2);
    return port;
}
