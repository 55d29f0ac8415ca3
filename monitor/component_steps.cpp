#include "monitor/component_steps.h"

#include <algorithm>
#include <array>

#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace component_wire;
namespace transfer = command_access;
namespace usage = command_usage;

namespace component_steps {

namespace {

Status Select(MonitorHandle handle, std::string_view id, std::uint16_t index) {
    return transfer::WriteBlock(handle, usage::kSelect, MakeSelect(id, index));
}

}  // namespace

Status QueryGeometry(MonitorHandle handle, std::string_view id, Geometry& geometry) {
    if (const Status status = SelectComponent(handle, id); IsFailure(status)) return status;
    return ReadGeometry(handle, geometry);
}

Status SelectComponent(MonitorHandle handle, std::string_view id) { return Select(handle, id, 0); }

Status ReadGeometry(MonitorHandle handle, Geometry& geometry) {
    GeometryBlock block{};
    if (const Status status = transfer::ReadBlock(handle, usage::kGeometry, block); IsFailure(status)) return status;
    geometry = ParseGeometry(block);
    return kStatusSuccess;
}

Status BeginComponent(MonitorHandle handle, std::string_view lowerId, Geometry geometry) {
    if (const Status status = Select(handle, lowerId, 0); IsFailure(status)) return status;
    return transfer::WriteBlock(handle, usage::kGeometry, MakeGeometry(lowerId, geometry));
}

Status WriteBlock(MonitorHandle handle, std::string_view lowerId, std::span<const std::uint8_t> block,
                  std::uint16_t index) {
    if (const Status status = Select(handle, lowerId, index); IsFailure(status)) return status;
    std::array<std::uint8_t, kPacketBytes> packet{};
    for (std::size_t offset = 0; offset < block.size(); offset += kPacketBytes) {
        const auto slice = block.subspan(offset, std::min(kPacketBytes, block.size() - offset));
        if (slice.size() < kPacketBytes) packet.fill(0);
        std::copy(slice.begin(), slice.end(), packet.begin());
        if (const Status status = transfer::WriteBlock(handle, usage::kPacket, packet); IsFailure(status)) return status;
    }
    return kStatusSuccess;
}

Status WriteBlockCombined(MonitorHandle handle, std::string_view lowerId, std::span<const std::uint8_t> block,
                          std::uint16_t index) {
    CombinedPacket packet{};
    std::uint16_t packetIndex = 0;
    for (std::size_t offset = 0; offset < block.size(); offset += kPacketBytes, ++packetIndex) {
        const auto slice = block.subspan(offset, std::min(kPacketBytes, block.size() - offset));
        SetCombinedHeader(packet, lowerId, index, packetIndex);
        const auto data = std::span(packet).subspan(kCombinedDataOffset);
        if (slice.size() < kPacketBytes) std::fill(data.begin(), data.end(), std::uint8_t{0});
        std::copy(slice.begin(), slice.end(), data.begin());
        if (const Status status = transfer::WriteBlock(handle, usage::kCombinedPacket, packet); IsFailure(status)) {
            return status;
        }
    }
    return kStatusSuccess;
}

Status ReadBlock(MonitorHandle handle, std::string_view id, std::span<std::uint8_t> block, std::uint16_t index) {
    if (const Status status = Select(handle, id, index); IsFailure(status)) return status;
    std::array<std::uint8_t, kPacketBytes> packet{};
    for (std::size_t offset = 0; offset < block.size(); offset += kPacketBytes) {
        packet.fill(0);
        if (const Status status = transfer::ReadBlock(handle, usage::kPacket, packet); IsFailure(status)) return status;
        const std::size_t n = std::min(kPacketBytes, block.size() - offset);
        std::copy_n(packet.begin(), n, block.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return kStatusSuccess;
}

}  // namespace component_steps
