#include "monitor/transactions.h"

#include <array>

#include "common/bytes.h"
#include "monitor/native_access.h"
#include "monitor/tunnel.h"

namespace {

constexpr MonUsage kIdentity{0xFF00, 0x0035};
constexpr std::size_t kValueBytes = 4;  // a value travels through the tunnel as 4 little-endian bytes

// A tunnel monitor is one whose device object found the descriptor transfer usage.
bool IsTunnel(const HidDevice& device) { return device.HasDescriptor(); }

}  // namespace

Status MonIsUnsupported(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::uint32_t* absent) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    const MonUsage address{page, usage};
    bool isAbsent = false;
    if (!IsTunnel(*device)) {
        isAbsent = monitor_native::IsAbsent(*device, address);
    } else if (const auto native = monitor_tunnel::NativeStandIn(address)) {
        isAbsent = monitor_native::IsAbsent(*device, *native);
    } else {
        isAbsent = !monitor_tunnel::IsDeclared(*device, address);
    }
    if (absent != nullptr) *absent = isAbsent ? 1 : 0;
    return kStatusSuccess;
}

Status MonReadBlock(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::span<std::uint8_t> block) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    if (!IsTunnel(*device)) return monitor_native::ReadBlock(*device, {page, usage}, block);
    return monitor_tunnel::Read(*device, true, {page, usage}, block);
}

Status MonWriteBlock(MonitorHandle handle, std::uint16_t page, std::uint16_t usage,
                     std::span<const std::uint8_t> block) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    if (!IsTunnel(*device)) return monitor_native::WriteBlock(*device, {page, usage}, block);
    return monitor_tunnel::Write(*device, true, {page, usage}, block);
}

Status MonReadValue(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::int32_t& value) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    if (!IsTunnel(*device)) return monitor_native::ReadValue(*device, {page, usage}, value);
    std::array<std::uint8_t, kValueBytes> bytes{};
    const Status status = monitor_tunnel::Read(*device, false, {page, usage}, bytes);
    if (!IsFailure(status)) value = static_cast<std::int32_t>(ReadU32(bytes, 0));
    return status;
}

Status MonWriteValue(MonitorHandle handle, std::uint16_t page, std::uint16_t usage, std::int32_t value) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    if (!IsTunnel(*device)) return monitor_native::WriteValue(*device, {page, usage}, value);
    std::array<std::uint8_t, kValueBytes> bytes{};
    WriteU32(bytes, 0, static_cast<std::uint32_t>(value));
    return monitor_tunnel::Write(*device, false, {page, usage}, bytes);
}

Status MonGetIdentityLength(MonitorHandle handle, std::uint32_t& length) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    const MonUsage served = IsTunnel(*device) ? *monitor_tunnel::NativeStandIn(kIdentity) : kIdentity;
    std::int32_t bytes = 0;
    if (!IsFailure(device->GetUsageInfo(served.page, served.usage, nullptr, nullptr, nullptr, nullptr, &bytes)))
        length = static_cast<std::uint32_t>(bytes);
    return kStatusSuccess;
}
