#include "tools/monitor-emulator/usbip_access.h"

std::string UsbipUnavailable(const VhciHcd& vhci) {
    std::string fault;
    switch (vhci.Check(&fault)) {
    case VhciHcd::Access::Ready: return "";
    case VhciHcd::Access::Missing: return "--usbip needs the vhci-hcd kernel module: run `sudo modprobe vhci-hcd`";
    case VhciHcd::Access::NotWritable: return "--usbip needs root to attach to vhci_hcd: " + fault;
    }
    return fault;
}
