#pragma once
// A USB HID device of another vendor than the monitors' (a vendor-defined
// interface with one feature report), attached to the guest's vhci_hcd and
// served by a thread until destroyed: what the device rule must leave alone.
#include <atomic>
#include <cstdint>
#include <thread>

#include "common/unique_fd.h"
#include "emulator/vhci_hcd.h"

class ForeignUsbDevice {
public:
    static constexpr std::uint16_t kVendor = 0x1209;  // not one of the monitors' vendors
    static constexpr std::uint16_t kProduct = 0x0001;

    ForeignUsbDevice();  // fails the calling test when it cannot attach
    ~ForeignUsbDevice();  // detaches
    ForeignUsbDevice(const ForeignUsbDevice&) = delete;
    ForeignUsbDevice& operator=(const ForeignUsbDevice&) = delete;

private:
    void Serve();

    VhciHcd vhci_;
    UniqueFd connection_;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
