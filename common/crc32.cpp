#include "common/crc32.h"

#include <array>

namespace {

// Eight tables let the loop consume eight bytes per step ("slicing by 8"):
// kTables[k][b] is the CRC of byte b followed by k zero bytes.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    std::uint32_t c = ~crc;
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t lo = c ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
            kTables[0][p[7]];
    }
    for (; n > 0; --n, ++p) c = (c >> 8) ^ kTables[0][(c ^ *p) & 0xFF];
    return ~c;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) { return Crc32Update(0, bytes); }
