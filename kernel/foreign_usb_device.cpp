#include "kernel/foreign_usb_device.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <vector>

#include "emulator/usbip_messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Usage Page 0xFF00, Usage 1, Application collection: report 1, 8 bytes, feature.
const Bytes kReportDescriptor{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x02, 0x15,
                              0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0};

Bytes DeviceDescriptor() {
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64, ForeignUsbDevice::kVendor & 0xFF, ForeignUsbDevice::kVendor >> 8,
            ForeignUsbDevice::kProduct & 0xFF, ForeignUsbDevice::kProduct >> 8, 0x00, 0x01, 0, 0, 0, 1};
}

Bytes ConfigurationDescriptor() {
    const auto reportLength = static_cast<std::uint8_t>(kReportDescriptor.size());
    return {9, 2, 34, 0, 1, 1, 0, 0x80, 50,                   // configuration: one interface
            9, 4, 0, 0, 1, 3, 0, 0, 0,                          // interface 0: HID, one endpoint
            9, 0x21, 0x11, 0x01, 0, 1, 0x22, reportLength, 0,  // HID 1.11, one report descriptor
            7, 5, 0x81, 3, 64, 0, 10};                          // interrupt IN 0x81
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::read(fd, data, length);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// The answer to a control transfer: IN data, or nothing for a stall.
std::optional<Bytes> Control(const usbip::SetupPacket& setup) {
    const bool standardIn = setup.requestType == 0x80 || setup.requestType == 0x81;
    if (standardIn && setup.request == 6) {  // GET_DESCRIPTOR
        switch (setup.value >> 8) {
        case 1: return DeviceDescriptor();
        case 2: return ConfigurationDescriptor();
        case 0x22: return kReportDescriptor;
        default: return std::nullopt;  // no strings
        }
    }
    if (setup.requestType == 0x80 && setup.request == 0) return Bytes{0, 0};  // GET_STATUS
    if ((setup.requestType & 0x80) == 0) return Bytes{};  // SET_CONFIGURATION, SET_IDLE, SET_REPORT…
    if (setup.requestType == 0xA1 && setup.request == 1) return Bytes(9, 0);  // GET_REPORT
    return std::nullopt;
}

}  // namespace

ForeignUsbDevice::ForeignUsbDevice() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        ADD_FAILURE() << "socketpair failed";
        return;
    }
    connection_ = UniqueFd(pair[0]);
    const UniqueFd kernelEnd(pair[1]);
    std::string fault;
    const std::optional<int> port = vhci_.Attach(kernelEnd, &fault);
    if (!port) {
        ADD_FAILURE() << "cannot attach the foreign device: " << fault;
        return;
    }
    port_ = *port;
    thread_ = std::thread([this] { Serve(); });
}

ForeignUsbDevice::~ForeignUsbDevice() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::string fault;
    if (port_ >= 0) vhci_.Detach(port_, &fault);
}

void ForeignUsbDevice::Serve() {
    while (!stop_) {
        pollfd p{connection_.get(), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        std::array<std::uint8_t, usbip::kHeaderSize> header;
        if (!ReadAll(connection_.get(), header.data(), header.size())) return;
        std::string fault;
        const std::optional<usbip::Request> request = usbip::ParseRequest(header, &fault);
        if (!request) return;
        Bytes out(request->DataLength());
        if (!out.empty() && !ReadAll(connection_.get(), out.data(), out.size())) return;
        if (request->command == usbip::kCmdUnlink) {
            const auto reply = usbip::RetUnlink(*request, usbip::kStatusUnlinked);
            if (!WriteAll(connection_.get(), reply.data(), reply.size())) return;
            continue;
        }
        if (request->ep != 0) continue;  // the interrupt endpoint: nothing ever comes
        std::optional<Bytes> answer = Control(request->setup);
        if (answer && answer->size() > request->setup.length) answer->resize(request->setup.length);
        const bool in = request->direction == usbip::kIn;
        const auto length = static_cast<std::int32_t>(answer && in ? answer->size() : answer ? out.size() : 0);
        const auto reply = usbip::RetSubmit(*request, answer ? 0 : usbip::kStatusStall, length);
        if (!WriteAll(connection_.get(), reply.data(), reply.size())) return;
        if (answer && in && !answer->empty() && !WriteAll(connection_.get(), answer->data(), answer->size())) return;
    }
}
