#pragma once
// The report descriptors of the emulated monitors.
#include <cstdint>
#include <vector>

enum class MonitorKind { OlderNative, OlderTunnel, CombinedTunnel };

struct DescriptorOptions {
    MonitorKind kind = MonitorKind::CombinedTunnel;
    // Without the page-0xFF01 settings 0x0045, 0x0053 and 0x0054: settings
    // 53 and 54 then live in bits 4 and 5 of 0xFF00:0x0009, and 0xFF01:0x00A4
    // stands in for setting 45.
    bool legacySettings = false;
    // A tunnel monitor stopped in an update adds 0xFF02:0x00F8 to its interface.
    bool stoppedInUpdate = false;
    // Some older monitors have no control lock (0xFF03:0x0080).
    bool controlLock = true;
    // Some older monitors have neither setting B8 (0xFF00:0x00B8) nor switch F0 (0xFF01:0x00F0).
    bool settingB8AndSwitchF0 = true;
};

// The descriptor of the HID interface itself.
std::vector<std::uint8_t> InterfaceDescriptor(const DescriptorOptions& options);

// The vendor descriptor a tunnel monitor hands out through 0xFF30:0x0001;
// empty for the older-native kind.
std::vector<std::uint8_t> TunnelledDescriptor(const DescriptorOptions& options);

// Report sizes of the tunnel channels: the short ones carry a 2-byte owner
// prefix, the 6-byte header and 32 payload bytes; the long ones the largest
// block, a 522-byte combined packet.
inline constexpr std::uint16_t kShortChannelBytes = 2 + 6 + 32;
inline constexpr std::uint16_t kLongChannelBytes = 2 + 6 + 522;
inline constexpr std::uint16_t kDescriptorChunkBytes = 64;
inline constexpr std::uint16_t kIdentityBytes = 32;
