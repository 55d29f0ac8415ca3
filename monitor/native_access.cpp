#include "monitor/native_access.h"

namespace monitor_native {

bool IsAbsent(HidDevice& device, MonUsage a) {
    bool notFound = true;
    device.GetUsageInfoEx(a.page, a.usage, nullptr, nullptr, nullptr, &notFound, nullptr, nullptr, nullptr);
    return notFound;
}

Status ReadValue(HidDevice& device, MonUsage a, std::int32_t& value) {
    std::uint32_t raw = 0;
    if (IsFailure(device.GetFeatureValue(a.page, a.usage, raw)) &&
        IsFailure(device.GetFeatureButton(a.page, a.usage, raw)))
        return kMonFailed;
    value = static_cast<std::int32_t>(raw);
    return kStatusSuccess;
}

Status WriteValue(HidDevice& device, MonUsage a, std::int32_t value) {
    const auto raw = static_cast<std::uint32_t>(value);
    if (IsFailure(device.SetFeatureValue(a.page, a.usage, raw)) &&
        IsFailure(device.SetFeatureButton(a.page, a.usage, raw)))
        return kMonFailed;
    return kStatusSuccess;
}

Status ReadBlock(HidDevice& device, MonUsage a, std::span<std::uint8_t> block) {
    return IsFailure(device.GetFeatureReport(a.page, a.usage, block)) ? kMonFailed : kStatusSuccess;
}

Status WriteBlock(HidDevice& device, MonUsage a, std::span<const std::uint8_t> block) {
    return IsFailure(device.SetFeatureReport(a.page, a.usage, block)) ? kMonFailed : kStatusSuccess;
}

}  // namespace monitor_native
