#pragma once
// The list of candidate monitors: every HID interface, as a device object,
// that passes the caller's vendor, product-class and descriptor filters.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "hid/hid_device.h"

using DeviceList = std::vector<std::unique_ptr<HidDevice>>;

// Bits of the selection word read here.
inline constexpr std::uint32_t kSelectStoppedInUpdate = 1u << 29;  // product 0x0006: must have 0xFF02:0x00F8
inline constexpr std::uint32_t kSelectWithoutStopMark = 1u << 31;  // product 0x0006: must lack it

// Appends the new interfaces that pass (absent filters pass everything);
// interfaces whose device path is already in the list are left alone.
// Returns the size of the list afterwards; nullopt, with the list unchanged,
// when the interfaces cannot be listed (which says nothing of what is plugged in).
std::optional<std::size_t> CreateDeviceList(DeviceList& list, const std::optional<std::vector<std::uint16_t>>& vendorIds,
                             const std::optional<std::vector<std::uint16_t>>& productClasses, std::uint32_t flags);

// The descriptor filter on its own: a device without the tunnel passes; one with
// it passes only with a Monitor Control application collection as its root.
bool PassesDescriptorTest(const HidDevice& device);
