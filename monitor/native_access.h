#pragma once
// Feature usages of the monitor's own interface, reached directly through its
// device object. For the monitor layer's own files.
#include <cstdint>
#include <span>

#include "hid/hid_device.h"
#include "monitor/monitor_status.h"

struct MonUsage {
    std::uint16_t page = 0;
    std::uint16_t usage = 0;
    bool operator==(const MonUsage&) const = default;
};

namespace monitor_native {

// True when the interface has neither a value nor a button for the usage.
bool IsAbsent(HidDevice& device, MonUsage address);

// Values try the value field first and the button second; `value` is written
// only on success. Every failure is kMonFailed.
Status ReadValue(HidDevice& device, MonUsage address, std::int32_t& value);
Status WriteValue(HidDevice& device, MonUsage address, std::int32_t value);
Status ReadBlock(HidDevice& device, MonUsage address, std::span<std::uint8_t> block);
Status WriteBlock(HidDevice& device, MonUsage address, std::span<const std::uint8_t> block);

}  // namespace monitor_native
