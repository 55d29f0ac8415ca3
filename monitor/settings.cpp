#include "monitor/settings.h"

#include <array>

#include "common/bytes.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace command_access;
namespace usage = command_usage;

namespace {

// Older monitors keep settings 53 and 54 inverted in single bits of one value.
constexpr std::uint32_t kSetting53Bit = 1u << 4;
constexpr std::uint32_t kSetting54Bit = 1u << 5;
constexpr std::int32_t kSetting45FallbackOn = 1200;

constexpr std::size_t kSettingBlockBytes = 64;  // blocks of settings 22 and 30; the setting is byte 0
constexpr std::size_t kSetting40Bytes = 4;
constexpr std::size_t kSetting40ValueOffset = 2;

std::int32_t Low16(std::uint32_t value) { return static_cast<std::int32_t>(value & 0xFFFFu); }

// A 0-or-1 setting: any other value read leaves `out` untouched.
Status ReadSwitch(MonitorHandle handle, MonUsage setting, std::int32_t& out) {
    std::int32_t value = -1;
    if (const Status status = ReadValue(handle, setting, value); IsFailure(status)) return status;
    if (value == 0 || value == 1) out = value;
    return kStatusSuccess;
}

// 1 when the bit of the older monitors' flags value is clear, else 0.
Status ReadInvertedBit(MonitorHandle handle, std::uint32_t bit, std::int32_t& out) {
    if (!IsAvailable(handle, usage::kSettingFlags)) return kMonUnavailable;
    std::int32_t flags = 0;
    if (const Status status = ReadValue(handle, usage::kSettingFlags, flags); IsFailure(status)) return status;
    out = (static_cast<std::uint32_t>(flags) & bit) == 0 ? 1 : 0;
    return kStatusSuccess;
}

// Clears the bit for a non-zero value and sets it for 0; the flags' upper 16 bits are not written back.
Status WriteInvertedBit(MonitorHandle handle, std::uint32_t bit, std::uint32_t value) {
    if (!IsAvailable(handle, usage::kSettingFlags)) return kMonUnavailable;
    std::int32_t flags = 0;
    if (const Status status = ReadValue(handle, usage::kSettingFlags, flags); IsFailure(status)) return status;
    std::uint32_t kept = static_cast<std::uint32_t>(flags) & 0xFFFFu;
    kept = value != 0 ? (kept & ~bit) : (kept | bit);
    return WriteValue(handle, usage::kSettingFlags, static_cast<std::int32_t>(kept));
}

Status ReadLow16(MonitorHandle handle, MonUsage setting, std::uint16_t& out) {
    std::int32_t value = 0;
    if (const Status status = ReadValue(handle, setting, value); IsFailure(status)) return status;
    out = static_cast<std::uint16_t>(value);
    return kStatusSuccess;
}


Status ReadBlockByte(MonitorHandle handle, MonUsage presence, MonUsage block, std::uint8_t& out) {
    if (!IsAvailable(handle, presence)) return kMonUnavailable;
    std::array<std::uint8_t, kSettingBlockBytes> bytes{};
    if (const Status status = ReadBlock(handle, block, bytes); IsFailure(status)) return status;
    out = bytes[0];
    return kStatusSuccess;
}

Status WriteBlockByte(MonitorHandle handle, MonUsage presence, MonUsage block, std::uint8_t value) {
    if (!IsAvailable(handle, presence)) return kMonUnavailable;
    std::array<std::uint8_t, kSettingBlockBytes> bytes{};
    if (const Status status = ReadBlock(handle, block, bytes); IsFailure(status)) return status;
    bytes[0] = value;
    return WriteBlock(handle, block, bytes);
}

}  // namespace

Status MonGetSetting54(MonitorHandle handle, std::uint16_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting54)) return ReadLow16(handle, usage::kSetting54, *value);
    std::int32_t on = 0;
    if (const Status status = ReadInvertedBit(handle, kSetting54Bit, on); IsFailure(status)) return status;
    *value = static_cast<std::uint16_t>(on);
    return kStatusSuccess;
}

Status MonSetSetting54(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting54)) return WriteValue(handle, usage::kSetting54, Low16(value));
    return WriteInvertedBit(handle, kSetting54Bit, value);
}

Status MonGetSetting45(MonitorHandle handle, std::int32_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting45)) return ReadSwitch(handle, usage::kSetting45, *value);
    if (!IsAvailable(handle, usage::kSetting45Fallback)) return kMonUnavailable;
    *value = 0;
    return kStatusSuccess;
}

Status MonSetSetting45(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting45)) {
        return WriteValue(handle, usage::kSetting45, static_cast<std::int32_t>(value));
    }
    if (!IsAvailable(handle, usage::kSetting45Fallback)) return kStatusSuccess;  // nothing to put back
    return WriteValue(handle, usage::kSetting45Fallback, value == 1 ? kSetting45FallbackOn : 0);
}

Status MonGetSetting53(MonitorHandle handle, std::int32_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting53)) return ReadSwitch(handle, usage::kSetting53, *value);
    return ReadInvertedBit(handle, kSetting53Bit, *value);
}

Status MonSetSetting53(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (IsAvailable(handle, usage::kSetting53)) {
        if (value > 1) return kMonBadArgument;
        return WriteValue(handle, usage::kSetting53, static_cast<std::int32_t>(value));
    }
    return WriteInvertedBit(handle, kSetting53Bit, value);
}

Status MonGetSetting68(MonitorHandle handle, std::uint16_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSetting68)) return kMonUnavailable;
    return ReadLow16(handle, usage::kSetting68, *value);
}

Status MonSetSetting68(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSetting68)) return kMonUnavailable;
    return WriteValue(handle, usage::kSetting68, Low16(value));
}

Status MonGetSetting22(MonitorHandle handle, std::uint8_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    return ReadBlockByte(handle, usage::kSetting22Presence, usage::kSetting22, *value);
}

Status MonSetSetting22(MonitorHandle handle, std::uint8_t value) {
    const auto lock = monitor_registry::Lock();
    return WriteBlockByte(handle, usage::kSetting22Presence, usage::kSetting22, value);
}

Status MonGetSetting30(MonitorHandle handle, std::uint8_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    return ReadBlockByte(handle, usage::kSetting30Presence, usage::kSetting30, *value);
}

Status MonSetSetting30(MonitorHandle handle, std::uint8_t value) {
    const auto lock = monitor_registry::Lock();
    return WriteBlockByte(handle, usage::kSetting30Presence, usage::kSetting30, value);
}

Status MonGetSetting40(MonitorHandle handle, std::uint16_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSetting40)) return kMonUnavailable;
    std::array<std::uint8_t, kSetting40Bytes> bytes{};
    if (const Status status = ReadBlock(handle, usage::kSetting40, bytes); IsFailure(status)) return status;
    *value = ReadU16(bytes, kSetting40ValueOffset);
    return kStatusSuccess;
}

Status MonSetSetting40(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSetting40)) return kMonUnavailable;
    std::array<std::uint8_t, kSetting40Bytes> bytes{};
    if (const Status status = ReadBlock(handle, usage::kSetting40, bytes); IsFailure(status)) return status;
    WriteU16(bytes, kSetting40ValueOffset, static_cast<std::uint16_t>(value));
    return WriteBlock(handle, usage::kSetting40, bytes);
}

Status MonSetSwitchF0(MonitorHandle handle, std::uint32_t value) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSwitchF0)) return kMonUnavailable;
    return WriteValue(handle, usage::kSwitchF0, Low16(value));
}
