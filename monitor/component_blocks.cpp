#include "monitor/component_blocks.h"

#include <algorithm>

#include "common/bytes.h"

namespace component_wire {

namespace {
void PutId(std::span<std::uint8_t> bytes, std::string_view id) {
    std::copy_n(id.begin(), kIdBytes, bytes.begin() + kIdOffset);
}
}  // namespace

SelectBlock MakeSelect(std::string_view id, std::uint16_t block) {
    SelectBlock bytes{};
    PutId(bytes, id);
    WriteU16(bytes, kSelectBlockOffset, block);
    return bytes;
}

GeometryBlock MakeGeometry(std::string_view id, Geometry geometry) {
    GeometryBlock bytes{};
    PutId(bytes, id);
    WriteU16(bytes, kGeometrySizeOffset, geometry.blockSize);
    WriteU16(bytes, kGeometryCountOffset, geometry.blockCount);
    return bytes;
}

Geometry ParseGeometry(const GeometryBlock& block) {
    return {ReadU16(block, kGeometrySizeOffset), ReadU16(block, kGeometryCountOffset)};
}

void SetCombinedHeader(CombinedPacket& packet, std::string_view id, std::uint16_t block, std::uint16_t index) {
    PutId(packet, id);
    WriteU16(packet, kCombinedBlockOffset, block);
    WriteU16(packet, kCombinedPacketOffset, index);
}

ChecksumBlock MakeChecksumRequest(std::string_view id) {
    ChecksumBlock bytes{};
    PutId(bytes, id);
    std::fill_n(bytes.begin() + kChecksumMarkerOffset, kChecksumMarkerBytes, std::uint8_t{0xFF});
    return bytes;
}

}  // namespace component_wire
