#include "emulator/usb_function.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "common/bytes.h"
#include "emulator/device_transport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// bmRequestType: direction, type and recipient in one byte.
constexpr std::uint8_t kStandardDeviceIn = 0x80, kStandardInterfaceIn = 0x81, kStandardEndpointIn = 0x82;
constexpr std::uint8_t kStandardDeviceOut = 0x00, kStandardInterfaceOut = 0x01, kStandardEndpointOut = 0x02;
constexpr std::uint8_t kClassInterfaceIn = 0xA1, kClassInterfaceOut = 0x21;

// Standard requests.
constexpr std::uint8_t kGetStatus = 0x00, kClearFeature = 0x01, kGetDescriptor = 0x06, kGetConfiguration = 0x08,
                       kSetConfiguration = 0x09, kGetInterface = 0x0A, kSetInterface = 0x0B;
constexpr std::uint16_t kEndpointHalt = 0;
// HID class requests.
constexpr std::uint8_t kGetReport = 0x01, kSetReport = 0x09, kSetIdle = 0x0A;

// Descriptor types.
constexpr std::uint8_t kDeviceType = 0x01, kConfigurationType = 0x02, kStringType = 0x03, kInterfaceType = 0x04,
                       kEndpointType = 0x05, kHidType = 0x21, kReportDescriptorType = 0x22;

constexpr std::uint16_t kUsb2 = 0x0200;
constexpr std::uint16_t kHidRelease = 0x0111;
constexpr std::uint8_t kMaxPacketSize0 = 64;
constexpr std::uint16_t kInterruptPacketSize = 64;
constexpr std::uint8_t kInterruptInterval = 10;  // 2^(10-1) microframes: 64 ms, never used
constexpr std::uint8_t kHidClass = 0x03;
constexpr std::uint16_t kEnglishUs = 0x0409;
constexpr const char* kManufacturer = "Quillon";
enum StringIndex : std::uint8_t { kLanguages, kManufacturerString, kProductString, kSerialString };

Bytes MakeDeviceDescriptor(const InterfaceAttributes& attributes) {
    Bytes d(18);
    d[0] = 18;
    d[1] = kDeviceType;
    WriteU16(d, 2, kUsb2);
    // Class, subclass and protocol 0: each interface says its own.
    d[7] = kMaxPacketSize0;
    WriteU16(d, 8, attributes.vendor);
    WriteU16(d, 10, attributes.product);
    WriteU16(d, 12, attributes.version);
    d[14] = kManufacturerString;
    d[15] = kProductString;
    d[16] = kSerialString;
    d[17] = 1;  // one configuration
    return d;
}

Bytes MakeHidDescriptor(std::size_t reportDescriptorLength) {
    Bytes d(9);
    d[0] = 9;
    d[1] = kHidType;
    WriteU16(d, 2, kHidRelease);
    d[4] = 0;  // no country
    d[5] = 1;  // one class descriptor: the report descriptor
    d[6] = kReportDescriptorType;
    WriteU16(d, 7, static_cast<std::uint16_t>(reportDescriptorLength));
    return d;
}

// Configuration 1: one HID interface (no boot subclass or protocol) with its
// HID descriptor and the interrupt IN endpoint HID requires.
Bytes MakeConfigurationDescriptor(const Bytes& hid) {
    Bytes d{9, kConfigurationType, 0, 0, 1, 1, 0, 0x80, 50};  // bus-powered, 100 mA
    const Bytes interface{9, kInterfaceType, 0, 0, 1, kHidClass, 0, 0, 0};
    Bytes endpoint{7, kEndpointType, kInterruptInEndpoint, 0x03, 0, 0, kInterruptInterval};
    WriteU16(endpoint, 4, kInterruptPacketSize);
    d.insert(d.end(), interface.begin(), interface.end());
    d.insert(d.end(), hid.begin(), hid.end());
    d.insert(d.end(), endpoint.begin(), endpoint.end());
    WriteU16(d, 2, static_cast<std::uint16_t>(d.size()));
    return d;
}

// UTF-16LE of a printable ASCII text, as the identity fields are.
Bytes MakeStringDescriptor(const std::string& text) {
    const std::size_t length = std::min<std::size_t>(text.size(), 126);  // bLength is one byte
    Bytes d(2 + 2 * length);
    d[0] = static_cast<std::uint8_t>(d.size());
    d[1] = kStringType;
    for (std::size_t i = 0; i < length; ++i) d[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    return d;
}

ControlAnswer Stall() { return {usbip::kStatusStall, {}}; }

ControlAnswer In(const Bytes& data, std::uint16_t length) {
    return {0, Bytes(data.begin(), data.begin() + std::min<std::size_t>(data.size(), length))};
}

}  // namespace

UsbFunction::UsbFunction(Monitor& monitor)
    : monitor_(monitor),
      device_(MakeDeviceDescriptor(monitor.Attributes())),
      report_(monitor.Descriptor()) {
    hid_ = MakeHidDescriptor(report_.size());
    configuration_ = MakeConfigurationDescriptor(hid_);
    Bytes languages{4, kStringType, 0, 0};
    WriteU16(languages, 2, kEnglishUs);
    strings_ = {languages, MakeStringDescriptor(kManufacturer), MakeStringDescriptor(monitor.Model()),
                MakeStringDescriptor(monitor.Serial())};
}

std::optional<Bytes> UsbFunction::Descriptor(std::uint16_t value, std::uint16_t index, bool interface) const {
    const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
    const std::uint8_t number = static_cast<std::uint8_t>(value);
    if (interface) {
        if (index != 0 || number != 0) return std::nullopt;
        if (type == kReportDescriptorType) return report_;
        if (type == kHidType) return hid_;
        return std::nullopt;
    }
    if (type == kDeviceType && number == 0) return device_;
    if (type == kConfigurationType && number == 0) return configuration_;
    if (type == kStringType && number < strings_.size()) return strings_[number];
    return std::nullopt;  // device qualifier, BOS, other speed: a USB 2.0 device at high speed only
}

std::optional<ControlAnswer> UsbFunction::HidRequest(const usbip::SetupPacket& setup,
                                                     std::span<const std::uint8_t> outData) {
    if (setup.index != 0) return Stall();  // the one interface is number 0
    if (setup.requestType == kClassInterfaceOut && setup.request == kSetIdle) return ControlAnswer{};
    // wValue: the report type (1 input, 2 output, 3 feature) and the report ID.
    const std::uint8_t typeNumber = static_cast<std::uint8_t>(setup.value >> 8);
    if (typeNumber < 1 || typeNumber > 3) return Stall();
    const auto type = static_cast<ReportType>(typeNumber);
    const std::uint8_t reportId = static_cast<std::uint8_t>(setup.value);
    if (setup.requestType == kClassInterfaceIn && setup.request == kGetReport) {
        const ReportReply reply = GetHostReport(monitor_, type, reportId);
        if (reply.err == ENODEV) return std::nullopt;
        if (reply.err != 0) return Stall();
        return In(reply.data, setup.length);
    }
    if (setup.requestType == kClassInterfaceOut && setup.request == kSetReport) {
        if (outData.empty()) return Stall();
        const int err = SetHostReport(monitor_, type, outData);
        if (err == ENODEV) return std::nullopt;
        return err == 0 ? ControlAnswer{} : Stall();
    }
    return Stall();
}

std::optional<ControlAnswer> UsbFunction::Control(const usbip::SetupPacket& setup,
                                                  std::span<const std::uint8_t> outData) {
    static const Bytes kZeroStatus{0, 0};
    switch (setup.requestType) {
    case kStandardDeviceIn:
    case kStandardInterfaceIn:
        if (setup.request == kGetDescriptor) {
            const auto descriptor = Descriptor(setup.value, setup.index, setup.requestType == kStandardInterfaceIn);
            return descriptor ? In(*descriptor, setup.length) : Stall();
        }
        if (setup.request == kGetStatus) return In(kZeroStatus, setup.length);
        if (setup.request == kGetConfiguration && setup.requestType == kStandardDeviceIn) {
            return In(Bytes{configurationValue_}, setup.length);
        }
        if (setup.request == kGetInterface && setup.requestType == kStandardInterfaceIn && setup.index == 0) {
            return In(Bytes{0}, setup.length);
        }
        return Stall();
    case kStandardEndpointIn:
        return setup.request == kGetStatus ? In(kZeroStatus, setup.length) : Stall();
    case kStandardDeviceOut:
        if (setup.request == kSetConfiguration && setup.value <= 1) {
            configurationValue_ = static_cast<std::uint8_t>(setup.value);
            return ControlAnswer{};
        }
        return Stall();
    case kStandardInterfaceOut:
        return setup.request == kSetInterface && setup.index == 0 && setup.value == 0 ? ControlAnswer{} : Stall();
    case kStandardEndpointOut:
        return setup.request == kClearFeature && setup.value == kEndpointHalt ? ControlAnswer{} : Stall();
    case kClassInterfaceIn:
    case kClassInterfaceOut:
        return HidRequest(setup, outData);
    default:
        return Stall();
    }
}
