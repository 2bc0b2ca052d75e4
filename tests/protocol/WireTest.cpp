#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "Protocol.h"
#include "Wire.h"

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

std::string OnWire(const std::string& text) { return text + '\0'; }

}  // namespace

TEST(CWireTest, SignOnMessagesMatchTheFieldBytes)
{
    EXPECT_EQ(OnWire(FormatNew(15, "Ann")), Bytes({0x01, 0x20, 0x31, 0x35, 0x20, 0x41, 0x6E, 0x6E, 0x00}));
    EXPECT_EQ(EncodeRoomEntry("Ann", 15),
              Bytes({0x04, 0, 0, 0, 0x41, 0x6E, 0x6E, 0x00, 0x0F, 0, 0, 0}));
    EXPECT_EQ(EncodePortNotice(htons(1027)), Bytes({0x04, 0x03}));
    EXPECT_EQ(ntohs(DecodePortNotice("\x04\x03")), 1027);

    // An empty name still carries its zero byte everywhere.
    EXPECT_EQ(EncodeHello(""), Bytes({0x02, 0x00}));
    EXPECT_EQ(EncodeRoomEntry("", 0), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(FormatNew(0, ""), "\x01 0 ");
    EXPECT_EQ(EncodeHello("guest"), std::string("\x02guest\0", 7));
}

TEST(CWireTest, Int32IsLittleEndianTwosComplement)
{
    for (std::int32_t v : {0, 1, -1, 15, 256, INT32_MIN, INT32_MAX, -123456789}) {
        std::string bytes = EncodeInt32(v);
        ASSERT_EQ(bytes.size(), 4u);
        EXPECT_EQ(DecodeInt32(bytes.data()), v);
    }
    EXPECT_EQ(EncodeInt32(-2), Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(CWireTest, DatagramLengthsOfTheBobFigures)
{
    EXPECT_EQ(OnWire(FormatNew(15, "Bob")).size(), 9u);
    EXPECT_EQ(OnWire(FormatJoinLine("Bob")).size(), 28u);
    EXPECT_EQ(OnWire(FormatLeave("Bob")).size(), 5u);
    EXPECT_EQ(OnWire(FormatLeaveLine("Bob")).size(), 26u);
    EXPECT_EQ(OnWire(FormatRelay("Bob", "hi")).size(), 10u);
    EXPECT_EQ(FormatRelay("Bob", "hi"), "\x02<Bob> hi");
    EXPECT_EQ(FormatJoinLine("guest"), "\x02* guest has joined the chat!");
    EXPECT_EQ(FormatLeaveLine("guest"), "\x02* guest has left the chat!");
    EXPECT_EQ(FormatBare(HDR_SHUTDOWN), "\x04");
    // A name with format characters goes out as it is.
    EXPECT_EQ(FormatChat("100% %s"), "\x02" "100% %s");
}

TEST(CWireTest, ReceivedDatagramsAreReadUpToZeroOrEnd)
{
    EXPECT_EQ(DatagramText(std::string("\x02hi\0junk", 8)), "hi");
    EXPECT_EQ(DatagramText("\x02no zero"), "no zero");
    EXPECT_EQ(DatagramText("\x03"), "");
    EXPECT_EQ(DatagramType("\xFF"), -1);
    EXPECT_EQ(DatagramType("\xC8"), -56);
    EXPECT_EQ(DatagramType(std::string(1, '\0')), 0);
    EXPECT_EQ(TextUpToZero(std::string("\x05\0x", 3)), "\x05");

    EXPECT_EQ(HelloName(std::string("\x02guest\0", 7)), "guest");
    EXPECT_EQ(HelloName("\x02gue"), "gue");  // cut short: only what arrived
    EXPECT_EQ(HelloName("\x02"), "");
    EXPECT_EQ(HelloName(""), "");
}

TEST(CWireTest, NewUserTextScansLikeTheIntegerConversion)
{
    struct CCase {
        const char* text;
        std::int32_t ping;
        const char* name;
    };
    const CCase cases[] = {
        {" 15 Ann", 15, "Ann"},
        {" 15  Ann", 15, "Ann"},         // leading blanks of a name are lost
        {" 15 Ann Lee ", 15, "Ann Lee "},  // blanks inside and after stay
        {" 0 guest", 0, "guest"},
        {" -3 x", -3, "x"},
        {" +7 y", 7, "y"},
        {" 0x1f hex", 31, "hex"},
        {" 0X1F hex", 31, "hex"},
        {" 017 oct", 15, "oct"},
        {" 08 n", 0, "8 n"},             // octal stops at 8
        {" 0xg n", 0, "g n"},            // "0x" with no hex digit still reads as 0
        {" -0x", 0, ""},
        {" 15", 15, ""},
        {"Ann", 0, "Ann"},               // no number: the whole text is the name
        {"   ", 0, "   "},
        {"", 0, ""},
        {" - x", 0, " - x"},
        {"\t\n12\r\vtabs", 12, "tabs"},
        {" 99999999999 big", 1215752191, "big"},       // narrowed from a 64-bit long
        {" 99999999999999999999 huge", -1, "huge"},    // saturates, then narrows
        {" -99999999999999999999 neg", 0, "neg"},
        {" 4294967295 wrap", -1, "wrap"},
    };
    for (const CCase& c : cases) {
        CNewUserText scanned = ScanNewText(c.text);
        EXPECT_EQ(scanned.ping, c.ping) << '"' << c.text << '"';
        EXPECT_EQ(scanned.name, c.name) << '"' << c.text << '"';
    }
}
