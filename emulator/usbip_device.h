#pragma once
// Serves one Monitor as a USB device through the kernel's vhci_hcd: the
// device's side of USB/IP over a stream socket that the kernel holds the other
// end of. Each plug-in attaches a new socket on a free port (a new device with
// the descriptors of the monitor's mode then); a departure detaches it.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "emulator/device_transport.h"
#include "emulator/usb_function.h"
#include "emulator/usbip_messages.h"
#include "emulator/vhci_hcd.h"

class UsbipDevice final : public DeviceTransport {
public:
    UsbipDevice(Monitor& monitor, VhciHcd& vhci);
    ~UsbipDevice() override;  // unplugs
    UsbipDevice(const UsbipDevice&) = delete;
    UsbipDevice& operator=(const UsbipDevice&) = delete;

    bool PlugIn(std::string* fault) override;
    // Detaches the device from its port.
    void Unplug();
    void ServeOnce(int timeoutMs, int wakeFd = -1);
    void Run(const std::atomic<bool>& stop, int wakeFd) override;
    std::string Where() const override;
    // Attached to a port now.
    bool Attached() const { return static_cast<bool>(connection_); }

private:
    // Reads and answers what the socket has; false when the connection ended.
    bool ReceiveAndAnswer();
    // Waits, on the clock and briefly, until the kernel has read what was sent:
    // its port is shut at once on a detach, with whatever it had not read yet.
    void WaitUntilRead();
    // Bytes still missing from the message being read.
    std::size_t Missing() const;
    bool Answer(const usbip::Request& request, const std::vector<std::uint8_t>& data);
    bool Send(const std::array<std::uint8_t, usbip::kHeaderSize>& header, std::span<const std::uint8_t> data = {});
    // The connection is over: the port is freed, by the kernel or by us.
    void Disconnected(const std::string& why, bool detach);
    // Acts on a departure of the monitor: true when it left (and maybe came back).
    bool AfterTransfer();

    Monitor& monitor_;
    VhciHcd& vhci_;
    std::optional<UsbFunction> function_;
    UniqueFd connection_;
    int port_ = -1;
    std::vector<std::uint8_t> received_;          // a message not yet whole
    std::optional<usbip::Request> header_;        // its header, once read
    std::vector<usbip::Request> pendingInterrupt_;  // URBs on 0x81, never completed
    const std::atomic<bool>* stop_ = nullptr;
};
