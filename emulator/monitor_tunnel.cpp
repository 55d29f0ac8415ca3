// The tunnel of the tunnel kinds: descriptor transfer, token, owner value and
// the request/reply channels on page 0xFF30.
#include "emulator/monitor.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "common/bytes.h"
#include "emulator/monitor_usages.h"

using namespace monitor_usages;

std::optional<std::vector<std::uint8_t>> Monitor::GetTunnelInterface(std::uint16_t usage, std::size_t length) {
    Bytes data(length);
    switch (usage) {
    case kDescriptorChunk: {
        // A lost chunk: the device moves on past it, and the host sees the wrong offset.
        if (config_.faults.wrongChunkOffsets > 0) {
            Decrement(config_.faults.wrongChunkOffsets);
            chunkOffset_ += length - 4;
        }
        const std::size_t total = tunnelledDescriptor_.size();
        WriteU16(data, 0, static_cast<std::uint16_t>(chunkOffset_));
        WriteU16(data, 2, static_cast<std::uint16_t>(total));
        if (chunkOffset_ < total) {
            const std::size_t n = std::min(length - 4, total - chunkOffset_);
            std::copy_n(tunnelledDescriptor_.begin() + static_cast<std::ptrdiff_t>(chunkOffset_), n, data.begin() + 4);
        }
        chunkOffset_ += length - 4;
        return data;
    }
    case kToken: WriteU16(data, 0, tunnelToken_); return data;
    case kOwner:
        WriteU16(data, 0, config_.faults.foreignOwner ? static_cast<std::uint16_t>(tunnelToken_ ^ 0x5A5A) : 0);
        return data;
    case kIdentity: return GetUsage(kIdentityBlock, length);
    case kNativeCE: return GetUsage(kUsageCE, length);
    default: break;
    }
    if (usage >= 0x0002 && usage <= 0x000E) {
        // A read channel hands out the reply to its last request, once.
        const auto at = std::find(kReadChannels.begin(), kReadChannels.end(), usage);
        if (at != kReadChannels.end()) {
            auto& pending = pendingReplies_[static_cast<std::size_t>(at - kReadChannels.begin())];
            if (pending) data = Fitted(*std::exchange(pending, std::nullopt), length);
        }
        return data;
    }
    return std::nullopt;
}

int Monitor::SetTunnelInterface(std::uint16_t usage, std::span<const std::uint8_t> payload,
                                std::optional<UsageAddress>& tunnelled) {
    switch (usage) {
    case kDescriptorChunk: chunkOffset_ = ReadU16(payload, 0); return 0;
    case kNativeCE: return SetUsage(kUsageCE, payload);
    case kToken:
    case kIdentity:
    case kOwner: return EIO;  // read-only
    default: break;
    }
    if (usage >= 0x0002 && usage <= 0x000E && usage != 0x0007) return TunnelRequest(usage, payload, tunnelled);
    return EIO;
}

// A request on a channel: [owner prefix on channels 0x000B..0x000E] page,
// usage, token, data. Writes act at once; reads leave a reply on their channel.
int Monitor::TunnelRequest(std::uint16_t channel, std::span<const std::uint8_t> payload,
                           std::optional<UsageAddress>& tunnelled) {
    const std::size_t prefix = channel >= kFirstOwnerChannel ? kOwnerPrefix : 0;
    const auto request = payload.subspan(prefix);
    const UsageAddress address{ReadU16(request, kTunnelPageOffset), ReadU16(request, kTunnelUsageOffset)};
    tunnelled = address;
    const FieldLayout* field = tunnelledLayout_.Find(address);
    // A request for a usage the monitor lacks, or from a host holding a token of an earlier boot.
    if (field == nullptr || ReadU16(request, kTunnelTokenOffset) != tunnelToken_) return EIO;
    const std::size_t length = field->ByteLength();

    const bool isRead = std::find(kReadChannels.begin(), kReadChannels.end(), channel) != kReadChannels.end();
    if (!isRead) {
        // A channel too short for the usage's bytes cannot carry its value.
        if (request.size() < kTunnelHeader + length) return EIO;
        return SetUsage(address, request.subspan(kTunnelHeader, length));
    }
    auto data = GetUsage(address, length);
    if (!data) return EIO;
    Bytes reply(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(prefix));
    Bytes header(kTunnelHeader);
    WriteU16(header, kTunnelPageOffset, address.page);
    std::uint16_t echoed = address.usage;
    if (config_.faults.mismatchedReplies > 0) {
        Decrement(config_.faults.mismatchedReplies);
        echoed = static_cast<std::uint16_t>(echoed + 1);
    }
    WriteU16(header, kTunnelUsageOffset, echoed);
    WriteU16(header, kTunnelTokenOffset, tunnelToken_);
    reply.insert(reply.end(), header.begin(), header.end());
    reply.insert(reply.end(), data->begin(), data->end());
    const auto at = std::find(kReadChannels.begin(), kReadChannels.end(), channel);
    pendingReplies_[static_cast<std::size_t>(at - kReadChannels.begin())] = std::move(reply);
    return 0;
}
