#pragma once
// The parts of the hidraw backend that need no device: device path naming and
// reading an interface's attributes from sysfs.
//
// Device path: "<devnode>#VID_XXXX&PID_XXXX#<instance>", for example
// "/dev/hidraw3#VID_7E51&PID_4001#000A". The instance is the number the kernel
// appends to the name of every new HID device ("0003:7E51:4001.000A"); it
// grows at every plug-in, so the path of a re-plugged interface differs even
// when it gets the same /dev/hidrawN node. Opening checks that the node still
// belongs to that instance.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct HidSysfsInfo {
    std::string hidSysname;  // "0003:7E51:4001.000A"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;  // bcdDevice of the USB device above, 0 without one
};

// From a HID device's uevent text: vendor and product of its "HID_ID=bus:vendor:product" line.
struct HidId {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};
std::optional<HidId> ParseHidId(std::string_view uevent);

// Walks up from a hidraw node's sysfs directory: the first ancestor whose uevent
// has HID_ID is the HID device; the first one above it whose uevent says
// DEVTYPE=usb_device gives bcdDevice. nullopt when there is no HID device.
std::optional<HidSysfsInfo> ReadHidrawSysfs(const std::string& syspath);

// "" when the HID device name is not "bus:vendor:product.instance".
std::string MakeHidrawDevicePath(std::string_view devnode, std::string_view hidSysname);
// The node to open: everything before the first '#'.
std::string_view HidrawDevnode(std::string_view devicePath);
// The HID device name in a hidraw node's sysfs path ".../<hid device>/hidraw/hidrawN"; "" when absent.
std::string_view HidSysnameFromSyspath(std::string_view syspath);

// Whether a report descriptor declares report IDs: hidraw then passes the ID
// byte with input reports, otherwise not.
bool DescriptorUsesReportIds(std::span<const std::uint8_t> descriptor);
