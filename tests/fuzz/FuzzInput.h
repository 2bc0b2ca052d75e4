#pragma once
// A cursor over one fuzz input: fields are read from the front, and a field
// that runs past the end reads as what is left (or zero). Owns nothing.

#include <cstddef>
#include <cstdint>
#include <string>

class CFuzzInput {
public:
    CFuzzInput(const std::uint8_t* pData, std::size_t size) : m_pData(pData), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }

    std::uint8_t Byte() { return Empty() ? 0 : m_pData[m_pos++]; }

    // Two bytes, least significant first.
    std::uint16_t Word()
    {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }

    std::string Bytes(std::size_t n)
    {
        const std::size_t take = n < m_size - m_pos ? n : m_size - m_pos;
        std::string bytes(reinterpret_cast<const char*>(m_pData + m_pos), take);
        m_pos += take;
        return bytes;
    }

    // A length byte, then that many bytes.
    std::string Counted() { return Bytes(Byte()); }

    // Counted, with each zero byte read as '0': a user's name never holds
    // one (a name typed into the window has none, and a hello ends at the
    // first).
    std::string Name()
    {
        std::string name = Counted();
        for (char& c : name)
            if (c == '\0')
                c = '0';
        return name;
    }

private:
    const std::uint8_t* m_pData;
    std::size_t m_size;
    std::size_t m_pos = 0;
};
