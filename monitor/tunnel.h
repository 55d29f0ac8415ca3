#pragma once
// Requests and replies through the vendor tunnel on page 0xFF30, for monitors
// whose usages live in the descriptor read through the tunnel. For the monitor
// layer's own files.
#include <optional>
#include <span>

#include "monitor/native_access.h"

namespace monitor_tunnel {

// The interface usage that serves `address` natively on a tunnel monitor
// (the identity block and 0xFF00:0x00CE), if it is one of those.
std::optional<MonUsage> NativeStandIn(MonUsage address);

// True when the tunnelled descriptor has a feature or input item for the usage.
bool IsDeclared(const HidDevice& device, MonUsage address);

// `block` chooses between a block and a 4-byte little-endian value.
Status Write(HidDevice& device, bool block, MonUsage address, std::span<const std::uint8_t> data);
Status Read(HidDevice& device, bool block, MonUsage address, std::span<std::uint8_t> out);

}  // namespace monitor_tunnel
