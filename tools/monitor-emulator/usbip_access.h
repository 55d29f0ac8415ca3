#pragma once
// Why `--usbip` cannot attach monitors on this machine, in the program's words.
#include <string>

#include "emulator/vhci_hcd.h"

// Empty when devices can be attached to `vhci`; otherwise one line saying what
// is missing: the kernel module, or the right to write its attach file.
std::string UsbipUnavailable(const VhciHcd& vhci);
