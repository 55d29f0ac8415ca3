#pragma once
// Blowfish's initial P-array and S-boxes (the fractional hexadecimal digits of pi).
#include <array>
#include <cstdint>

namespace blowfish_tables {

extern const std::array<std::uint32_t, 18> kInitialP;
extern const std::array<std::uint32_t, 256> kInitialS0;
extern const std::array<std::uint32_t, 256> kInitialS1;
extern const std::array<std::uint32_t, 256> kInitialS2;
extern const std::array<std::uint32_t, 256> kInitialS3;

}  // namespace blowfish_tables
