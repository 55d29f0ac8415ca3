#pragma once
// Blowfish with 16 rounds and the published key schedule.
//
// Blocks in byte buffers are two 32-bit words in little-endian order (left half
// from bytes 0-3, right half from bytes 4-7). That is the reverse of the
// big-endian words of the published test vectors: a block taken from those
// vectors has each word byte-swapped before and after the block operation.
#include <array>
#include <cstdint>
#include <span>

class Blowfish {
public:
    // Key bytes are taken cyclically, so any length from 1 byte up is accepted;
    // an empty key leaves the initial tables unkeyed.
    explicit Blowfish(std::span<const std::uint8_t> key);

    void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
    void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;

    // ECB over whole 8-byte blocks in place; a trailing partial block is left as it is.
    void EncryptEcb(std::span<std::uint8_t> bytes) const;
    void DecryptEcb(std::span<std::uint8_t> bytes) const;

private:
    // Four blocks at once: each block's rounds are one chain of dependent table
    // look-ups, and four independent chains keep the processor busy.
    template <bool kEncrypt>
    void FourBlocks(std::uint8_t* bytes) const;
    template <bool kEncrypt>
    void Ecb(std::span<std::uint8_t> bytes) const;

    std::uint32_t F(std::uint32_t x) const {
        return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
    }

    std::array<std::uint32_t, 18> p_;
    std::array<std::array<std::uint32_t, 256>, 4> s_;
};
