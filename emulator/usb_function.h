#pragma once
// The USB device a monitor is at one plug-in: its descriptors, made from the
// monitor's presentation at that moment (product, release number and report
// descriptor change with its mode), and the answers of its control endpoint.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emulator/monitor.h"
#include "emulator/usbip_messages.h"

// The one interrupt IN endpoint of the HID interface. The monitor has no input
// reports, so nothing ever comes from it.
inline constexpr std::uint8_t kInterruptInEndpoint = 0x81;

struct ControlAnswer {
    std::int32_t status = 0;          // 0, or usbip::kStatusStall
    std::vector<std::uint8_t> data;   // IN data, at most the request's wLength
};

class UsbFunction {
public:
    explicit UsbFunction(Monitor& monitor);

    // The answer to a control transfer on endpoint 0, `outData` being its data
    // stage when it goes OUT. Nothing when the monitor lost power during it:
    // it never answers, and leaves the bus.
    std::optional<ControlAnswer> Control(const usbip::SetupPacket& setup, std::span<const std::uint8_t> outData);

    const std::vector<std::uint8_t>& DeviceDescriptor() const { return device_; }
    const std::vector<std::uint8_t>& ConfigurationDescriptor() const { return configuration_; }

private:
    std::optional<std::vector<std::uint8_t>> Descriptor(std::uint16_t value, std::uint16_t index, bool interface) const;
    std::optional<ControlAnswer> HidRequest(const usbip::SetupPacket& setup, std::span<const std::uint8_t> outData);

    Monitor& monitor_;
    std::vector<std::uint8_t> device_, configuration_, hid_, report_;
    std::vector<std::vector<std::uint8_t>> strings_;   // index 0: the languages
    std::uint8_t configurationValue_ = 0;
};
