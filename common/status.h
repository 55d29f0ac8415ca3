#pragma once
// Status codes: 0 is success, 0x80000000 and above are failures.
//
// A value means something only together with the layer that returned it: each
// layer names its own failures (hid/hid_device.h, monitor/monitor_status.h,
// monitor/command_status.h, monitor/component_transfer.h, package/pkg.h,
// package/container.h, update/update_status.h, app/app_status.h), and the same
// value stands for different failures in different layers (0x80000001 is a
// failed button transfer in the HID layer, a missing argument or invalid
// content in the monitor layer and the package library). A status passes
// upward unchanged, so compare it only with the names of the layer it came from.
#include <cstdint>

using Status = std::uint32_t;

inline constexpr Status kStatusSuccess = 0;

constexpr bool IsFailure(Status status) { return status >= 0x80000000u; }
