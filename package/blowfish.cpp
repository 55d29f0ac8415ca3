#include "package/blowfish.h"

#include <bit>
#include <cstring>

#include "package/blowfish_tables.h"

Blowfish::Blowfish(std::span<const std::uint8_t> key)
    : p_(blowfish_tables::kInitialP),
      s_{blowfish_tables::kInitialS0, blowfish_tables::kInitialS1, blowfish_tables::kInitialS2,
         blowfish_tables::kInitialS3} {
    if (!key.empty()) {
        std::size_t k = 0;
        for (auto& word : p_) {
            std::uint32_t data = 0;
            for (int i = 0; i < 4; ++i) {
                data = data << 8 | key[k];  // first key byte most significant
                k = (k + 1) % key.size();
            }
            word ^= data;
        }
    }
    std::uint32_t left = 0, right = 0;
    for (std::size_t i = 0; i < p_.size(); i += 2) {
        EncryptBlock(left, right);
        p_[i] = left;
        p_[i + 1] = right;
    }
    for (auto& box : s_) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            EncryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void Blowfish::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= p_[i];
        r ^= F(l);
        r ^= p_[i + 1];
        l ^= F(r);
    }
    left = r ^ p_[17];
    right = l ^ p_[16];
}

void Blowfish::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left, r = right;
    for (int i = 17; i > 1; i -= 2) {
        l ^= p_[i];
        r ^= F(l);
        r ^= p_[i - 1];
        l ^= F(r);
    }
    left = r ^ p_[0];
    right = l ^ p_[1];
}

// Words are little-endian in the buffer; memcpy compiles to a plain load on
// little-endian machines and is safe for any alignment.
static_assert(std::endian::native == std::endian::little, "block layout assumes a little-endian host");

template <bool kEncrypt>
void Blowfish::FourBlocks(std::uint8_t* bytes) const {
    std::uint32_t w[8];
    std::memcpy(w, bytes, sizeof w);
    // Named locals, not the array: they stay in registers.
    std::uint32_t l0 = w[0], r0 = w[1], l1 = w[2], r1 = w[3], l2 = w[4], r2 = w[5], l3 = w[6], r3 = w[7];
    for (int i = 0; i < 16; i += 2) {
        // Decryption runs the same rounds with the P-array reversed.
        const std::uint32_t a = kEncrypt ? p_[i] : p_[17 - i];
        const std::uint32_t b = kEncrypt ? p_[i + 1] : p_[16 - i];
        l0 ^= a, l1 ^= a, l2 ^= a, l3 ^= a;
        r0 ^= F(l0) ^ b, r1 ^= F(l1) ^ b, r2 ^= F(l2) ^ b, r3 ^= F(l3) ^ b;
        l0 ^= F(r0), l1 ^= F(r1), l2 ^= F(r2), l3 ^= F(r3);
    }
    const std::uint32_t lastL = kEncrypt ? p_[17] : p_[0];
    const std::uint32_t lastR = kEncrypt ? p_[16] : p_[1];
    const std::uint32_t out[8] = {r0 ^ lastL, l0 ^ lastR, r1 ^ lastL, l1 ^ lastR,
                                  r2 ^ lastL, l2 ^ lastR, r3 ^ lastL, l3 ^ lastR};
    std::memcpy(bytes, out, sizeof out);
}

template <bool kEncrypt>
void Blowfish::Ecb(std::span<std::uint8_t> bytes) const {
    std::uint8_t* p = bytes.data();
    std::size_t blocks = bytes.size() / 8;
    for (; blocks >= 4; blocks -= 4, p += 32) FourBlocks<kEncrypt>(p);
    for (; blocks > 0; --blocks, p += 8) {
        std::uint32_t words[2];
        std::memcpy(words, p, 8);
        if constexpr (kEncrypt) EncryptBlock(words[0], words[1]);
        else DecryptBlock(words[0], words[1]);
        std::memcpy(p, words, 8);
    }
}

void Blowfish::EncryptEcb(std::span<std::uint8_t> bytes) const { Ecb<true>(bytes); }
void Blowfish::DecryptEcb(std::span<std::uint8_t> bytes) const { Ecb<false>(bytes); }
