#include "package/blowfish.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "package/container.h"

namespace {

std::array<std::uint8_t, 8> BigEndianBytes(std::uint64_t v) {
    std::array<std::uint8_t, 8> out{};
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
    return out;
}

struct Vector {
    std::uint64_t key, plain, cipher;
};

// Published Blowfish test vectors (8-byte keys, big-endian words).
constexpr Vector kVectors[] = {
    {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
    {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
    {0x3000000000000000, 0x1000000000000001, 0x7D856F9A613063F2},
    {0x1111111111111111, 0x1111111111111111, 0x2466DD878B963C9D},
    {0x0123456789ABCDEF, 0x1111111111111111, 0x61F9C3802281B096},
    {0x1111111111111111, 0x0123456789ABCDEF, 0x7D0CC630AFDA1EC7},
    {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
};

TEST(Blowfish, PublishedVectorsOnWords) {
    for (const auto& v : kVectors) {
        const auto key = BigEndianBytes(v.key);
        const Blowfish bf(key);
        auto left = static_cast<std::uint32_t>(v.plain >> 32), right = static_cast<std::uint32_t>(v.plain);
        bf.EncryptBlock(left, right);
        EXPECT_EQ((std::uint64_t{left} << 32) | right, v.cipher) << std::hex << "key " << v.key;
        bf.DecryptBlock(left, right);
        EXPECT_EQ((std::uint64_t{left} << 32) | right, v.plain) << std::hex << "key " << v.key;
    }
}

TEST(Blowfish, BufferWordsAreLittleEndian) {
    // The vector's big-endian words, byte-swapped into the buffer layout.
    const Vector v = kVectors[4];
    const Blowfish bf(BigEndianBytes(v.key));
    auto swapped = [](std::uint64_t x) {
        auto be = BigEndianBytes(x);
        std::array<std::uint8_t, 8> out{};
        for (int w = 0; w < 2; ++w)
            for (int i = 0; i < 4; ++i) out[4 * w + i] = be[4 * w + 3 - i];
        return out;
    };
    auto block = swapped(v.plain);
    bf.EncryptEcb(block);
    EXPECT_EQ(block, swapped(v.cipher));
    bf.DecryptEcb(block);
    EXPECT_EQ(block, swapped(v.plain));
}

TEST(Blowfish, BufferModeAgreesWithSingleBlocksForEveryCount) {
    // Buffers are done several blocks at a time; every count, with its tail, must match.
    const Blowfish bf(BigEndianBytes(kVectors[6].key));
    for (std::size_t blocks = 0; blocks <= 9; ++blocks) {
        std::vector<std::uint8_t> buffer(blocks * 8 + 3);  // a partial block stays as it is
        for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 13 + blocks);
        const auto plain = buffer;
        bf.EncryptEcb(buffer);
        for (std::size_t b = 0; b < blocks; ++b) {
            std::uint32_t w[2];
            std::memcpy(w, plain.data() + 8 * b, 8);
            bf.EncryptBlock(w[0], w[1]);
            EXPECT_EQ(0, std::memcmp(w, buffer.data() + 8 * b, 8)) << blocks << " blocks, block " << b;
        }
        EXPECT_TRUE(std::equal(buffer.end() - 3, buffer.end(), plain.end() - 3));
        bf.DecryptEcb(buffer);
        EXPECT_EQ(buffer, plain) << blocks << " blocks";
    }
}

TEST(Blowfish, LongKeyIsTakenCyclically) {
    // A key repeated is the same key: bytes are taken cyclically into P.
    const std::array<std::uint8_t, 2> shortKey = {0xAB, 0xCD};
    const std::array<std::uint8_t, 8> longKey = {0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD};
    std::uint32_t l1 = 1, r1 = 2, l2 = 1, r2 = 2;
    Blowfish(shortKey).EncryptBlock(l1, r1);
    Blowfish(longKey).EncryptBlock(l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
}

TEST(PackageCipher, KnownAnswersUnderThePackageKey) {
    // Computed with OpenSSL's Blowfish keyed with the same 37 bytes, each word
    // byte-swapped into and out of its big-endian order.
    struct Case {
        std::array<std::uint8_t, 8> plain, cipher;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, {0x38, 0x9B, 0x19, 0x5C, 0xF6, 0x0D, 0xD4, 0x05}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, {0x44, 0xE8, 0xBA, 0xCD, 0x5D, 0x6C, 0xC7, 0x69}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 8> block{};
        EncryptBlocks(c.plain.data(), block.data(), block.size());
        EXPECT_EQ(block, c.cipher);
        DecryptBlocks(block.data(), block.data(), block.size());
        EXPECT_EQ(block, c.plain);
    }
}

TEST(PackageCipher, EcbRoundTripAndEqualBlocks) {
    std::vector<std::uint8_t> plain(64);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
    std::memcpy(plain.data() + 8, plain.data(), 8);  // blocks 0 and 1 equal
    std::vector<std::uint8_t> enc(plain.size());
    EncryptBlocks(plain.data(), enc.data(), plain.size());
    EXPECT_NE(enc, plain);
    EXPECT_TRUE(std::equal(enc.begin(), enc.begin() + 8, enc.begin() + 8));  // ECB: no chaining
    DecryptBlocks(enc.data(), enc.data(), enc.size());  // in place
    EXPECT_EQ(enc, plain);
}

TEST(PackageCipher, PartialLastBlockIsZeroPadded) {
    const std::uint8_t plain[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    std::uint8_t enc[16];
    std::memset(enc, 0xEE, sizeof enc);
    EncryptBlocks(plain, enc, sizeof plain);
    std::uint8_t dec[16];
    DecryptBlocks(enc, dec, sizeof plain);  // ceil(13 / 8) = 2 blocks
    EXPECT_EQ(0, std::memcmp(dec, plain, 13));
    EXPECT_EQ(dec[13], 0);
    EXPECT_EQ(dec[14], 0);
    EXPECT_EQ(dec[15], 0);
}

}  // namespace
