#pragma once
// CRC-32 of IEEE 802.3: reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement. Crc32("123456789") is 0xCBF43926.
#include <cstdint>
#include <span>

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// Continues a CRC over further bytes: Crc32Update(Crc32(a), b) == Crc32(a + b).
std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);
