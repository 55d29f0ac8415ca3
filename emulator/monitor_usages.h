#pragma once
// The usages, block layouts and small helpers the parts of Monitor share.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "emulator/monitor_config.h"
#include "emulator/report_layout.h"

namespace monitor_usages {

constexpr std::uint16_t kPageTunnel = 0xFF30;
constexpr std::uint16_t kProductStoppedInUpdate = 0x0006;
constexpr std::uint16_t kReleaseNumber = 0x0102;

// Page-0xFF30 usages of the tunnel interface.
constexpr std::uint16_t kDescriptorChunk = 0x0001, kToken = 0x0006, kIdentity = 0x0008, kNativeCE = 0x0009,
                        kOwner = 0x000A;
constexpr std::uint16_t kFirstOwnerChannel = 0x000B;

// Usages with behaviour of their own; every other declared usage simply keeps what is written.
constexpr UsageAddress kIdentityBlock{0xFF00, 0x0035}, kUsageCE{0xFF00, 0x00CE},
    kVersionRecord{0xFF00, 0x00D8}, kSettingB8{0xFF00, 0x00B8};
constexpr UsageAddress kIndexSelect{0xFF01, 0x00F1}, kIndexValue{0xFF01, 0x00F2};
constexpr UsageAddress kCompletion{0xFF02, 0x0037}, kSelect{0xFF02, 0x00C2}, kGeometry{0xFF02, 0x00C3},
    kPacket{0xFF02, 0x00C7}, kRestart{0xFF02, 0x00F4}, kBootSelector{0xFF02, 0x00FB}, kChecksum{0xFF02, 0x00FC},
    kCombined{0xFF02, 0x00FE};
constexpr UsageAddress kBusy{0xFF03, 0x0004}, kLock{0xFF03, 0x0080}, kLockMode2{0xFF03, 0x0001},
    kLockMode5{0xFF03, 0x0003};
constexpr UsageAddress kIdentify{0xFF00, 0x000F};

// Layouts of the blocks, as offsets into their bytes.
constexpr std::size_t kBlockIndexOffset = 6, kPacketIndexOffset = 8, kCombinedDataOffset = 10;
constexpr std::size_t kGeometrySizeOffset = 6, kGeometryCountOffset = 8;
constexpr std::size_t kChecksumStatusOffset = 10, kChecksumCrcOffset = 11;
constexpr std::size_t kTunnelPageOffset = 0, kTunnelUsageOffset = 2, kTunnelTokenOffset = 4, kTunnelHeader = 6;
constexpr std::size_t kOwnerPrefix = 2;
constexpr std::size_t kVersionTextOffset = 2;

constexpr std::uint8_t kLockCalibrating = 3;
constexpr std::uint8_t kCompletionStart = 0xFF, kCompletionIdle = 0, kCompletionDone = 1, kCompletionWorking = 2;
constexpr std::uint8_t kIndexRead = 3, kIndexWrite = 2;

// Channels on which a request asks for a reply, in the order of the pending replies.
constexpr std::array<std::uint16_t, 4> kReadChannels{0x0003, 0x0005, 0x000C, 0x000E};

// Version records, and the field of the version text each one gives.
constexpr std::array<std::uint16_t, 5> kVersionSelectors{0x0100, 0x0101, 0x0500, 0x0400, 0x0600};

inline std::uint32_t LittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
    return value;
}

inline std::vector<std::uint8_t> Fitted(std::span<const std::uint8_t> bytes, std::size_t length) {
    std::vector<std::uint8_t> fitted(length);
    std::copy_n(bytes.begin(), std::min(length, bytes.size()), fitted.begin());
    return fitted;
}

inline void Decrement(std::uint32_t& count) {
    if (count != FaultPlan::kAlways && count > 0) --count;
}

}  // namespace monitor_usages
