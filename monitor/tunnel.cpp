#include "monitor/tunnel.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/bytes.h"
#include "common/clock.h"

namespace monitor_tunnel {

namespace {

constexpr std::uint16_t kTunnelPage = 0xFF30;
constexpr MonUsage kOwnerValue{kTunnelPage, 0x000A};

constexpr std::array<std::pair<MonUsage, MonUsage>, 2> kNativeStandIns{{
    {{0xFF00, 0x0035}, {kTunnelPage, 0x0008}},  // identity block
    {{0xFF00, 0x00CE}, {kTunnelPage, 0x0009}},
}};

// Reads that move the monitor on (the next packet of a block, the next value
// of a sequence): asking again would not fetch the same data, so a reply that
// does not match ends the read.
constexpr std::array<MonUsage, 4> kNoRetry{{{0xFF02, 0x00C4}, {0xFF02, 0x00C7}, {0xFF02, 0x00F2}, {0xFF21, 0x0002}}};

// Request channels on the tunnel page. With the owner check in force every
// request and reply carries the token in front.
struct Channels {
    std::uint16_t writeShort, writeLong, readShort, readLong;
};
constexpr Channels kPlainChannels{0x0002, 0x0004, 0x0003, 0x0005};
constexpr Channels kOwnerCheckedChannels{0x000B, 0x000D, 0x000C, 0x000E};

// Blocks of more payload than this go on the long channels.
constexpr std::int64_t kShortChannelPayload = 32;
// Payload assumed for an item that declares no Report Size or Report Count.
constexpr std::int64_t kUndeclaredPayload = 512;
constexpr std::uint8_t kReportSizeTag = 0x74, kReportCountTag = 0x94;

constexpr int kReadAttempts = 10;
constexpr std::uint32_t kRetryWaitMs = 100;

// Request and reply: [token, with the owner check] page · usage · token · data.
constexpr std::size_t kOwnerPrefix = 2;
constexpr std::size_t kPageAt = 0, kUsageAt = 2, kTokenAt = 4, kHeader = 6;
// With the owner check, a request of fewer bytes stays all zero.
constexpr std::size_t kMinOwnerCheckedRequest = 3;

bool IsNoRetry(MonUsage address) { return std::find(kNoRetry.begin(), kNoRetry.end(), address) != kNoRetry.end(); }

std::int64_t PayloadBytes(const reportdescriptor::MainItem& feature) {
    const reportdescriptor::Item* size = feature.FindItem(kReportSizeTag);
    const reportdescriptor::Item* count = feature.FindItem(kReportCountTag);
    if (size == nullptr || count == nullptr) return kUndeclaredPayload;
    return (std::int64_t{size->value} + 7) / 8 * count->value;
}

// In force when the monitor declares an owner value and it is not zero; the
// transfer is refused when the owner is not this instance (its token).
Status CheckOwner(HidDevice& device, bool& inForce) {
    inForce = false;
    std::int32_t owner = 0;
    if (!device.HasUsage(kOwnerValue.page, kOwnerValue.usage) ||
        IsFailure(monitor_native::ReadValue(device, kOwnerValue, owner)) || (owner & 0xFFFF) == 0)
        return kStatusSuccess;
    inForce = true;
    // Read again just before the transfer; a failed read does not refuse it.
    if (IsFailure(monitor_native::ReadValue(device, kOwnerValue, owner))) return kStatusSuccess;
    return static_cast<std::uint16_t>(owner) != device.TunnelToken() ? kMonOwnedElsewhere : kStatusSuccess;
}

std::uint16_t ChooseChannel(bool ownerCheck, bool read, bool block, std::int64_t payload) {
    const Channels& c = ownerCheck ? kOwnerCheckedChannels : kPlainChannels;
    const bool isLong = block && payload > kShortChannelPayload;
    if (read) return isLong ? c.readLong : c.readShort;
    return isLong ? c.writeLong : c.writeShort;
}

// Each header field is written only when the request has room for it, the data only when all of it fits.
std::vector<std::uint8_t> BuildRequest(std::size_t length, bool ownerCheck, MonUsage address, std::uint16_t token,
                                       std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> request(length, 0);
    std::span<std::uint8_t> body(request);
    if (ownerCheck) {
        if (length < kMinOwnerCheckedRequest) return request;
        WriteU16(body, 0, token);
        body = body.subspan(kOwnerPrefix);
    }
    if (body.size() >= kUsageAt) WriteU16(body, kPageAt, address.page);
    if (body.size() >= kTokenAt) WriteU16(body, kUsageAt, address.usage);
    if (body.size() >= kHeader) WriteU16(body, kTokenAt, token);
    if (body.size() >= kHeader + data.size()) std::copy(data.begin(), data.end(), body.begin() + kHeader);
    return request;
}

struct Reply {
    MonUsage address;
    std::uint16_t token = 0;
    std::span<const std::uint8_t> data;
};

// Fields the reply is too short for stay zero.
Reply ParseReply(std::span<const std::uint8_t> reply, bool ownerCheck) {
    const std::span<const std::uint8_t> body = reply.subspan(std::min(reply.size(), ownerCheck ? kOwnerPrefix : 0));
    Reply r;
    if (body.size() >= kUsageAt) r.address.page = ReadU16(body, kPageAt);
    if (body.size() >= kTokenAt) r.address.usage = ReadU16(body, kUsageAt);
    if (body.size() >= kHeader) r.token = ReadU16(body, kTokenAt);
    if (body.size() > kHeader) r.data = body.subspan(kHeader);
    return r;
}

// The channel report's byte length; nullopt when the query fails for another
// reason than the channel being absent (an absent channel gives 0).
std::optional<std::size_t> ChannelLength(HidDevice& device, std::uint16_t channel) {
    std::int32_t bytes = 0;
    const Status status =
        device.GetUsageInfoEx(kTunnelPage, channel, nullptr, nullptr, nullptr, nullptr, &bytes, nullptr, nullptr);
    if (status == kHidNoSuchUsage) return 0;
    if (IsFailure(status)) return std::nullopt;
    return static_cast<std::size_t>(std::max(bytes, 0));
}

}  // namespace

std::optional<MonUsage> NativeStandIn(MonUsage address) {
    for (const auto& [requested, served] : kNativeStandIns) {
        if (requested == address) return served;
    }
    return std::nullopt;
}

bool IsDeclared(const HidDevice& device, MonUsage a) {
    return reportdescriptor::FindFeatureItem(device.Root(), a.page, a.usage) != nullptr ||
           reportdescriptor::FindInputItem(device.Root(), a.page, a.usage) != nullptr;
}

Status Write(HidDevice& device, bool block, MonUsage address, std::span<const std::uint8_t> data) {
    if (const auto native = NativeStandIn(address)) {
        if (block) return monitor_native::WriteBlock(device, *native, data);
        return monitor_native::WriteValue(device, *native, static_cast<std::int32_t>(ReadU32(data, 0)));
    }
    const reportdescriptor::MainItem* feature = device.TunnelledFeature(address.page, address.usage);
    if (feature == nullptr) return kMonFailed;
    bool ownerCheck = false;
    if (const Status owner = CheckOwner(device, ownerCheck); IsFailure(owner)) return owner;
    const std::uint16_t channel = ChooseChannel(ownerCheck, false, block, PayloadBytes(*feature));
    const std::size_t length = ChannelLength(device, channel).value_or(0);

    // A request without the data would still reach the monitor, which would take
    // the zeros for the value: refuse what does not fit instead.
    if (length < (ownerCheck ? kOwnerPrefix : 0) + kHeader + data.size()) return kMonFailed;
    const std::vector<std::uint8_t> request = BuildRequest(length, ownerCheck, address, device.TunnelToken(), data);
    return IsFailure(device.SetFeatureReport(kTunnelPage, channel, request)) ? kMonFailed : kStatusSuccess;
}

Status Read(HidDevice& device, bool block, MonUsage address, std::span<std::uint8_t> out) {
    if (const auto native = NativeStandIn(address)) {
        if (block) return monitor_native::ReadBlock(device, *native, out);
        std::int32_t value = 0;
        if (const Status status = monitor_native::ReadValue(device, *native, value); IsFailure(status)) return status;
        WriteU32(out, 0, static_cast<std::uint32_t>(value));
        return kStatusSuccess;
    }
    const reportdescriptor::MainItem* feature = device.TunnelledFeature(address.page, address.usage);
    if (feature == nullptr) return kMonFailed;
    bool ownerCheck = false;
    if (const Status owner = CheckOwner(device, ownerCheck); IsFailure(owner)) return owner;
    const std::uint16_t channel = ChooseChannel(ownerCheck, true, block, PayloadBytes(*feature));
    const std::optional<std::size_t> length = ChannelLength(device, channel);
    if (!length) return kMonFailed;

    const std::uint16_t token = device.TunnelToken();
    std::vector<std::uint8_t> scratch(out.size());
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        std::vector<std::uint8_t> buffer = BuildRequest(*length, ownerCheck, address, token, {});
        if (IsFailure(device.SetFeatureReport(kTunnelPage, channel, buffer))) return kMonFailed;
        if (IsFailure(device.GetFeatureReport(kTunnelPage, channel, buffer))) return kMonFailed;
        const Reply reply = ParseReply(buffer, ownerCheck);
        std::fill(scratch.begin(), scratch.end(), 0);
        std::copy_n(reply.data.begin(), std::min(reply.data.size(), scratch.size()), scratch.begin());
        if (reply.address == address && reply.token == token) {
            std::copy(scratch.begin(), scratch.end(), out.begin());
            return kStatusSuccess;
        }
        if (IsNoRetry(address)) return kMonNoReply;
        SleepMs(kRetryWaitMs);
    }
    return kMonNoReply;
}

}  // namespace monitor_tunnel
