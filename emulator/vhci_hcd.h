#pragma once
// The kernel's virtual USB host controller (vhci_hcd, the USB/IP client side),
// driven through its sysfs files: a connected stream socket written to
// `attach` becomes a USB device on a free port; writing the port number to
// `detach` unplugs it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"

inline constexpr const char* kVhciRoot = "/sys/devices/platform/vhci_hcd.0";

// The high-speed ports a vhci_hcd `status` text lists as free, in order.
// Lines: "hub port sta spd dev sockfd local_busid"; a free port has status 004.
std::vector<int> FreeHighSpeedPorts(std::string_view status);

class VhciHcd {
public:
    // `root` holds status, attach and detach: the kernel's folder, or a test's.
    explicit VhciHcd(std::string root = kVhciRoot) : root_(std::move(root)) {}
    virtual ~VhciHcd() = default;
    VhciHcd(const VhciHcd&) = delete;
    VhciHcd& operator=(const VhciHcd&) = delete;

    const std::string& Root() const { return root_; }

    enum class Access { Ready, Missing, NotWritable };
    // Whether devices can be attached: the folder exists (the module is
    // loaded) and `attach` opens for writing (root). `fault` says what failed.
    Access Check(std::string* fault) const;

    // Hands `socket` to the kernel as a high-speed device on a free port; a port
    // taken meanwhile by someone else is stepped over. The port, or nothing with
    // `fault` set. The kernel holds its own reference: the caller closes its copy.
    std::optional<int> Attach(const UniqueFd& socket, std::string* fault);
    bool Detach(int port, std::string* fault);

protected:
    // Writes `text` to one of the folder's files in one write, as sysfs takes
    // it: 0 or the errno. Tests stand in for the kernel's answers here.
    virtual int WriteFile(const std::string& name, const std::string& text);
    // After the kernel took `socket` on `port`. Tests that play the kernel keep
    // a copy of it here.
    virtual void Attached(int /*port*/, const UniqueFd& /*socket*/) {}

private:
    // The status lines of every controller the module runs; the ports they
    // list are the numbers `attach` takes.
    std::optional<std::string> ReadStatus(std::string* fault) const;
    // Whether the USB device last attached to `port` is still in sysfs: the
    // kernel has freed the port but not yet finished unplugging its device.
    bool StillUnplugging(int port) const;

    std::string root_;
    // Device ids are (bus << 16) | device, unique among this controller's devices.
    std::atomic<std::uint32_t> nextDevice_{1};
};
