#include "common/crc32.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The definition, one bit at a time, to check the table-driven code against.
std::uint32_t BitwiseCrc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t c = 0xFFFFFFFF;
    for (auto b : bytes) {
        c ^= b;
        for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320 : c >> 1;
    }
    return ~c;
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc32(Bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32(Bytes("")), 0u);
    EXPECT_EQ(Crc32(Bytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(Crc32, MatchesTheBitwiseDefinitionAtEveryLengthAndSplit) {
    std::vector<std::uint8_t> data(67);
    std::uint32_t x = 12345;
    for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
    for (std::size_t n = 0; n <= data.size(); ++n) {
        const std::span<const std::uint8_t> part(data.data(), n);
        ASSERT_EQ(Crc32(part), BitwiseCrc32(part)) << "length " << n;
        const std::size_t split = n / 3;
        EXPECT_EQ(Crc32Update(Crc32(part.first(split)), part.subspan(split)), Crc32(part)) << "length " << n;
    }
}

}  // namespace
