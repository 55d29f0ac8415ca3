#pragma once
// Firmware as state: what a monitor holds for each component, and the image
// header that tells the monitor whether it can run a component and which
// version it is. See README.md, "Firmware images".
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kComponentIdBytes = 6;
inline constexpr std::size_t kPacketBytes = 512;

// The image header, at the start of every component image.
inline constexpr std::size_t kImageMagicOffset = 0;    // "QFWI"
inline constexpr std::size_t kImageIdOffset = 4;       // component id, upper case, 6 bytes
inline constexpr std::size_t kImageVersionOffset = 10; // u16: the component's version field
inline constexpr std::size_t kImageLengthOffset = 12;  // u32: whole image length, header included
inline constexpr std::size_t kImageCrcOffset = 16;     // u32: CRC-32 of the bytes after the header
inline constexpr std::size_t kImageHeaderBytes = 20;

// Five version fields in the order of the version text: the records 0x0100,
// 0x0101, 0x0500, 0x0400 and 0x0600.
using VersionFields = std::array<std::uint16_t, 5>;

struct ComponentArea {
    std::string_view id;        // upper case
    std::uint16_t blockSize;
    std::uint16_t blockCount;
    std::size_t versionField;   // index into VersionFields

    std::size_t Capacity() const { return std::size_t{blockSize} * blockCount; }
};

// PRG000, PRG001, AIC653, INP027, AIC904, in the order components are written.
const std::array<ComponentArea, 5>& ComponentAreas();
// The area with `scale` times its blocks, block size kept; nothing when scale
// is 0 or the block count would not fit 16 bits.
std::optional<ComponentArea> ScaledArea(const ComponentArea& area, std::uint32_t scale);
// Index of the area for an id in either case; nothing for an unknown id.
std::optional<std::size_t> FindComponentArea(std::span<const std::uint8_t> id);
std::optional<std::size_t> FindComponentArea(std::string_view id);

// An image of `length` bytes (at least the header) carrying `version`; the body
// is a pattern derived from `seed`.
std::vector<std::uint8_t> MakeImage(const ComponentArea& area, std::uint16_t version, std::size_t length,
                                    std::uint32_t seed);

// The version of a held image the monitor can run; nothing when the header is
// missing, names another component, declares a length beyond what is held, or
// the body's CRC differs (a corrupted or partly written image).
std::optional<std::uint16_t> RunnableVersion(const ComponentArea& area, std::span<const std::uint8_t> held);

// How many held bytes the monitor's checksum covers: the length the header
// declares when it fits, else everything held.
std::size_t ChecksummedLength(std::span<const std::uint8_t> held);

// "0010200034000050000600007": five fields of five decimal digits, each at most 65535.
std::optional<VersionFields> ParseVersionText(std::string_view text);
std::string FormatVersionText(const VersionFields& fields);
