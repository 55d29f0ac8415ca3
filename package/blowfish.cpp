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

namespace {

// Words are little-endian in the buffer; memcpy keeps the access aligned-safe
// and compiles to a plain load on little-endian machines.
static_assert(std::endian::native == std::endian::little, "block layout assumes a little-endian host");

template <typename Op>
void ForEachBlock(std::span<std::uint8_t> bytes, Op op) {
    std::uint8_t* p = bytes.data();
    for (std::size_t n = bytes.size() / 8; n > 0; --n, p += 8) {
        std::uint32_t words[2];
        std::memcpy(words, p, 8);
        op(words[0], words[1]);
        std::memcpy(p, words, 8);
    }
}

}  // namespace

void Blowfish::EncryptEcb(std::span<std::uint8_t> bytes) const {
    ForEachBlock(bytes, [this](std::uint32_t& l, std::uint32_t& r) { EncryptBlock(l, r); });
}

void Blowfish::DecryptEcb(std::span<std::uint8_t> bytes) const {
    ForEachBlock(bytes, [this](std::uint32_t& l, std::uint32_t& r) { DecryptBlock(l, r); });
}
