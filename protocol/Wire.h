#pragma once
// Encoding and decoding of the sign-on messages and the datagram texts.
// Pure functions of bytes: they never see a socket.
//
// A datagram "text" here is the string that a format yields, type byte first;
// it goes on the wire with its terminating zero (size() + 1 bytes).

#include <cstdint>
#include <string>
#include <string_view>

// --- datagram texts, built exactly as the peers expect them ----------------
std::string FormatNew(std::int32_t ping, std::string_view name);      // "%c %i %s"
std::string FormatChat(std::string_view line);                        // "%c%s", HDR_CHAT
std::string FormatRelay(std::string_view name, std::string_view line);// "%c<%s> %s"
std::string FormatJoinLine(std::string_view name);                    // "%c* %s has joined the chat!"
std::string FormatLeaveLine(std::string_view name);                   // "%c* %s has left the chat!"
std::string FormatLeave(std::string_view name);                       // "%c%s", HDR_LEAVE
std::string FormatBare(char type);                                    // "%c"

// --- reading a received datagram --------------------------------------------
// The type byte read as a signed 8-bit value. The datagram must not be empty.
int DatagramType(std::string_view datagram);
// The bytes after the type byte up to the first zero byte, or to the end.
std::string_view DatagramText(std::string_view datagram);
// Text from the first byte (type byte included) up to the first zero or end.
std::string_view TextUpToZero(std::string_view bytes);

// The HDR_NEW text read the way " %i %n" reads it: white space, an optional
// sign, then decimal, octal (leading 0) or hexadecimal (leading 0x) digits,
// then white space. Without a leading number the ping is 0 and the whole
// text is the name.
struct CNewUserText {
    std::int32_t ping = 0;
    std::string name;
};
CNewUserText ScanNewText(std::string_view text);

// --- sign-on stream ----------------------------------------------------------
// 32-bit signed integers travel least significant byte first.
std::string EncodeInt32(std::int32_t value);
std::int32_t DecodeInt32(const void* fourBytes);
// Hello: the version byte, the name, a zero byte.
std::string EncodeHello(std::string_view name);
// The name in a received hello: from byte 1 up to the first zero byte, or to
// the end of what was received. Empty if nothing follows the version byte.
std::string_view HelloName(std::string_view received);
// Room entry: int32 (name length + 1), the name and its zero, int32 ping.
std::string EncodeRoomEntry(std::string_view name, std::int32_t ping);
// The port notice carries a port exactly as a socket address stores it
// (network byte order), so its two bytes go out in memory order.
std::string EncodePortNotice(std::uint16_t portNetworkOrder);
std::uint16_t DecodePortNotice(const void* twoBytes);
