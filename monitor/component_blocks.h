#pragma once
// Byte layouts of the component transfer blocks on page 0xFF02 (u16 fields
// little-endian). A component id is six ASCII characters without terminator.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace component_wire {

inline constexpr std::size_t kIdOffset = 0;
inline constexpr std::size_t kIdBytes = 6;
inline constexpr std::size_t kPacketBytes = 512;  // one slice of a block, zero-padded

// Select (0xFF02:0x00C2): id · block index · 0.
inline constexpr std::size_t kSelectBlockOffset = 6;
inline constexpr std::size_t kSelectBytes = 10;

// Geometry (0xFF02:0x00C3): id · block size · block count · 6 zero bytes.
inline constexpr std::size_t kGeometrySizeOffset = 6;
inline constexpr std::size_t kGeometryCountOffset = 8;
inline constexpr std::size_t kGeometryBytes = 16;

// Combined packet (0xFF02:0x00FE): id · block index · packet index · 512 data bytes.
inline constexpr std::size_t kCombinedBlockOffset = 6;
inline constexpr std::size_t kCombinedPacketOffset = 8;
inline constexpr std::size_t kCombinedDataOffset = 10;
inline constexpr std::size_t kCombinedBytes = kCombinedDataOffset + kPacketBytes;

// Checksum (0xFF02:0x00FC): request id · FF FF FF FF · 5 zero bytes;
// reply 10 bytes not interpreted · status · CRC-32.
inline constexpr std::size_t kChecksumMarkerOffset = 6;
inline constexpr std::size_t kChecksumMarkerBytes = 4;
inline constexpr std::size_t kChecksumStatusOffset = 10;
inline constexpr std::size_t kChecksumCrcOffset = 11;
inline constexpr std::size_t kChecksumBytes = 15;
inline constexpr std::uint8_t kChecksumComputing = 1;

using SelectBlock = std::array<std::uint8_t, kSelectBytes>;
using GeometryBlock = std::array<std::uint8_t, kGeometryBytes>;
using CombinedPacket = std::array<std::uint8_t, kCombinedBytes>;
using ChecksumBlock = std::array<std::uint8_t, kChecksumBytes>;

struct Geometry {
    std::uint16_t blockSize = 0;
    std::uint16_t blockCount = 0;
    std::uint64_t Capacity() const { return std::uint64_t{blockSize} * blockCount; }
};

// Packets that carry n bytes of a block.
constexpr std::uint64_t PacketCount(std::uint64_t n) { return (n + kPacketBytes - 1) / kPacketBytes; }

// `id` must be kIdBytes long.
SelectBlock MakeSelect(std::string_view id, std::uint16_t block);
GeometryBlock MakeGeometry(std::string_view id, Geometry geometry);
Geometry ParseGeometry(const GeometryBlock& block);
// Header of a combined packet; the data bytes are the caller's.
void SetCombinedHeader(CombinedPacket& packet, std::string_view id, std::uint16_t block, std::uint16_t index);
ChecksumBlock MakeChecksumRequest(std::string_view id);

}  // namespace component_wire
