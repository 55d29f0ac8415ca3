#include "emulator/vhci_hcd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr int kFreePort = 4;          // VDEV_ST_NULL
constexpr int kHighSpeed = 3;         // USB_SPEED_HIGH
constexpr std::uint32_t kBus = 1;
// Each controller numbers 8 high-speed, then 8 super-speed ports; the root
// hubs number their ports from 1.
constexpr int kPortsPerController = 16;
constexpr int kHighSpeedPorts = 8;

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

std::vector<int> FreeHighSpeedPorts(std::string_view status) {
    std::vector<int> ports;
    std::istringstream lines{std::string(status)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string hub;
        int port = -1, state = -1;
        // The heading's fields are no numbers and end the read there.
        if (fields >> hub >> port >> state && hub == "hs" && state == kFreePort && port >= 0) ports.push_back(port);
    }
    return ports;
}

VhciHcd::Access VhciHcd::Check(std::string* fault) const {
    struct stat info {};
    if (::stat(root_.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        if (fault) *fault = "cannot find " + root_ + ": " + ErrnoText(errno);
        return Access::Missing;
    }
    const std::string attach = root_ + "/attach";
    // Opening writes nothing: the kernel acts on a write only.
    const UniqueFd fd(::open(attach.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd) {
        if (fault) *fault = "cannot write " + attach + ": " + ErrnoText(errno);
        return Access::NotWritable;
    }
    return Access::Ready;
}

std::optional<std::string> VhciHcd::ReadStatus(std::string* fault) const {
    // One file per controller: "status", then "status.1", ... when the module runs several.
    std::string text;
    for (int controller = 0;; ++controller) {
        const std::string path = root_ + "/status" + (controller == 0 ? "" : "." + std::to_string(controller));
        std::ifstream file(path);
        if (!file && controller > 0) return text;
        if (!file) {
            if (fault) *fault = "cannot read " + path + ": " + ErrnoText(errno);
            return std::nullopt;
        }
        std::stringstream status;
        status << file.rdbuf();
        text += status.str();
    }
}

bool VhciHcd::StillUnplugging(int port) const {
    const int controller = port / kPortsPerController;
    const int hubPort = port % kPortsPerController % kHighSpeedPorts + 1;
    // Controller N is the folder vhci_hcd.N beside vhci_hcd.0; its root hubs are usbB in it.
    const std::string folder =
        controller == 0 ? root_ : root_.substr(0, root_.rfind('.')) + "." + std::to_string(controller);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("usb", 0) != 0) continue;
        const std::string device = name.substr(3) + "-" + std::to_string(hubPort);
        if (std::filesystem::exists(entry.path() / device, error)) return true;
    }
    return false;
}

std::optional<int> VhciHcd::Attach(const UniqueFd& socket, std::string* fault) {
    const std::optional<std::string> status = ReadStatus(fault);
    if (!status) return std::nullopt;
    // A device attached to a port whose previous device the kernel is still
    // unplugging can miss its enumeration: such ports are tried last.
    std::vector<int> ports = FreeHighSpeedPorts(*status);
    std::stable_partition(ports.begin(), ports.end(), [this](int port) { return !StillUnplugging(port); });
    for (const int port : ports) {
        const std::uint32_t devid = kBus << 16 | (nextDevice_.fetch_add(1) & 0xFFFF);
        const std::string line = std::to_string(port) + " " + std::to_string(socket.get()) + " " +
                                 std::to_string(devid) + " " + std::to_string(kHighSpeed);
        const int error = WriteFile("attach", line);
        if (error == EBUSY) continue;  // taken since the status was read
        if (error != 0) {
            if (fault) *fault = "cannot attach to " + root_ + "/attach (port " + std::to_string(port) + "): " +
                                ErrnoText(error);
            return std::nullopt;
        }
        Attached(port, socket);
        return port;
    }
    if (fault) *fault = "no free high-speed port on vhci_hcd: " + root_ + "/status lists none";
    return std::nullopt;
}

int VhciHcd::WriteFile(const std::string& name, const std::string& text) {
    const UniqueFd fd(::open((root_ + "/" + name).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd) return errno;
    const ssize_t written = ::write(fd.get(), text.data(), text.size());
    if (written < 0) return errno;
    return written == static_cast<ssize_t>(text.size()) ? 0 : EIO;
}

bool VhciHcd::Detach(int port, std::string* fault) {
    const int error = WriteFile("detach", std::to_string(port));
    if (error != 0 && fault) *fault = "cannot detach port " + std::to_string(port) + " at " + root_ + ": " + ErrnoText(error);
    return error == 0;
}
