#include "emulator/firmware_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/bytes.h"
#include "common/crc32.h"

namespace {
constexpr std::string_view kMagic = "QFWI";
}

const std::array<ComponentArea, 5>& ComponentAreas() {
    static const std::array<ComponentArea, 5> areas{{
        {"PRG000", 512, 8, 0},
        {"PRG001", 512, 4, 1},
        {"AIC653", 512, 4, 3},
        {"INP027", 256, 4, 2},
        {"AIC904", 512, 2, 4},
    }};
    return areas;
}

std::optional<ComponentArea> ScaledArea(const ComponentArea& area, std::uint32_t scale) {
    const std::uint64_t count = std::uint64_t{area.blockCount} * scale;
    if (scale == 0 || count > 0xFFFF) return std::nullopt;
    ComponentArea scaled = area;
    scaled.blockCount = static_cast<std::uint16_t>(count);
    return scaled;
}

std::optional<std::size_t> FindComponentArea(std::span<const std::uint8_t> id) {
    if (id.size() < kComponentIdBytes) return std::nullopt;
    const auto& areas = ComponentAreas();
    for (std::size_t i = 0; i < areas.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < kComponentIdBytes; ++k) {
            same = same && std::toupper(id[k]) == areas[i].id[k];
        }
        if (same) return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> FindComponentArea(std::string_view id) {
    if (id.size() != kComponentIdBytes) return std::nullopt;
    return FindComponentArea(std::span(reinterpret_cast<const std::uint8_t*>(id.data()), id.size()));
}

std::vector<std::uint8_t> MakeImage(const ComponentArea& area, std::uint16_t version, std::size_t length,
                                    std::uint32_t seed) {
    std::vector<std::uint8_t> image(std::max(length, kImageHeaderBytes));
    std::memcpy(image.data() + kImageMagicOffset, kMagic.data(), kMagic.size());
    std::memcpy(image.data() + kImageIdOffset, area.id.data(), kComponentIdBytes);
    WriteU16(image, kImageVersionOffset, version);
    WriteU32(image, kImageLengthOffset, static_cast<std::uint32_t>(image.size()));
    std::uint32_t state = seed * 2654435761u + version;
    for (std::size_t i = kImageHeaderBytes; i < image.size(); ++i) {
        state = state * 1103515245u + 12345u;
        image[i] = static_cast<std::uint8_t>(state >> 16);
    }
    WriteU32(image, kImageCrcOffset, Crc32(std::span(image).subspan(kImageHeaderBytes)));
    return image;
}

namespace {
std::optional<std::size_t> DeclaredLength(std::span<const std::uint8_t> held) {
    if (held.size() < kImageHeaderBytes || std::memcmp(held.data(), kMagic.data(), kMagic.size()) != 0) {
        return std::nullopt;
    }
    const std::size_t length = ReadU32(held, kImageLengthOffset);
    if (length < kImageHeaderBytes || length > held.size()) return std::nullopt;
    return length;
}
}  // namespace

std::optional<std::uint16_t> RunnableVersion(const ComponentArea& area, std::span<const std::uint8_t> held) {
    const auto length = DeclaredLength(held);
    if (!length || std::memcmp(held.data() + kImageIdOffset, area.id.data(), kComponentIdBytes) != 0) {
        return std::nullopt;
    }
    const auto body = held.subspan(kImageHeaderBytes, *length - kImageHeaderBytes);
    if (Crc32(body) != ReadU32(held, kImageCrcOffset)) return std::nullopt;
    return ReadU16(held, kImageVersionOffset);
}

std::size_t ChecksummedLength(std::span<const std::uint8_t> held) {
    return DeclaredLength(held).value_or(held.size());
}

std::optional<VersionFields> ParseVersionText(std::string_view text) {
    if (text.size() != 25) return std::nullopt;
    VersionFields fields{};
    for (std::size_t f = 0; f < fields.size(); ++f) {
        std::uint32_t value = 0;
        for (char c : text.substr(f * 5, 5)) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (value > 0xFFFF) return std::nullopt;
        fields[f] = static_cast<std::uint16_t>(value);
    }
    return fields;
}

std::string FormatVersionText(const VersionFields& fields) {
    std::string text;
    for (std::uint16_t field : fields) {
        const std::string digits = std::to_string(field);
        text += std::string(5 - digits.size(), '0') + digits;
    }
    return text;
}
