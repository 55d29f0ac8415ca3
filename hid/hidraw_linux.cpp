// hidraw backend: libudev enumeration of subsystem "hidraw", the report
// descriptor from HIDIOCGRDESC, feature reports through HIDIOCGFEATURE /
// HIDIOCSFEATURE (byte 0 the report ID both ways), ENODEV as "not connected".
// A failed call is noted as this thread's system failure (common/system_failure.h)
// with the node's name; each open and transfer forgets an earlier note as it starts.
// Attributes come from sysfs (see hidraw_linux.h).
#include "hid/hidraw_linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "hid/hid_platform.h"

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::optional<std::uint32_t> ParseHex(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    return text;
}

bool HasLine(std::string_view text, std::string_view line) {
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        if (text.substr(at, end - at) == line) return true;
        at = end + 1;
    }
    return false;
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string_view Basename(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Notes the failed call on `devnode` with the errno it left.
void NoteFailure(std::string_view call, std::string_view devnode) {
    const int error = errno;
    NoteSystemFailure(std::string(call) + " " + std::string(devnode), error);
}

class HidrawConnection final : public HidConnection {
public:
    HidrawConnection(std::string devnode, UniqueFd fd, HidAttributes attributes, std::vector<std::uint8_t> descriptor)
        : devnode_(std::move(devnode)), fd_(std::move(fd)), attributes_(attributes), descriptor_(std::move(descriptor)),
          reportIds_(DescriptorUsesReportIds(descriptor_)) {}

    HidAttributes Attributes() const override { return attributes_; }
    std::span<const std::uint8_t> ReportDescriptor() const override { return descriptor_; }

    HidIo GetFeature(std::span<std::uint8_t> report) override {
        ClearSystemFailure();
        if (report.empty() || report.size() > kMaxIoctlLength) return HidIo::Failed;
        return Result(::ioctl(fd_.get(), HIDIOCGFEATURE(report.size()), report.data()), "HIDIOCGFEATURE");
    }

    HidIo SetFeature(std::span<const std::uint8_t> report) override {
        ClearSystemFailure();
        if (report.empty() || report.size() > kMaxIoctlLength) return HidIo::Failed;
        // The ioctl takes a non-const buffer but only reads it.
        std::vector<std::uint8_t> copy(report.begin(), report.end());
        return Result(::ioctl(fd_.get(), HIDIOCSFEATURE(copy.size()), copy.data()), "HIDIOCSFEATURE");
    }

    HidInput ReadInput(std::span<std::uint8_t> report, int timeoutMs) override {
        ClearSystemFailure();
        if (report.size() < 2) return HidInput::Failed;
        pollfd pfd{fd_.get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) return HidInput::Timeout;
            NoteFailure("poll", devnode_);
            return HidInput::Failed;
        }
        if (ready == 0) return HidInput::Timeout;
        if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (pfd.revents & POLLIN) == 0) return HidInput::Failed;
        // Without report IDs hidraw hands over the report alone; byte 0 is then 0.
        const std::span<std::uint8_t> target = reportIds_ ? report : report.subspan(1);
        const ssize_t n = ::read(fd_.get(), target.data(), target.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) return HidInput::Timeout;
            NoteFailure("read", devnode_);
            return HidInput::Failed;
        }
        if (!reportIds_) report[0] = 0;
        return HidInput::Report;
    }

private:
    // HIDIOCGFEATURE/HIDIOCSFEATURE encode the length in the ioctl's 14-bit size field.
    static constexpr std::size_t kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;

    HidIo Result(int rc, std::string_view call) const {
        if (rc >= 0) return HidIo::Ok;
        const int error = errno;
        NoteFailure(call, devnode_);
        return error == ENODEV ? HidIo::NotConnected : HidIo::Failed;
    }

    std::string devnode_;
    UniqueFd fd_;
    HidAttributes attributes_;
    std::vector<std::uint8_t> descriptor_;
    bool reportIds_;
};

class HidrawEvents final : public DeviceEvents {
public:
    HidrawEvents(UdevPtr<udev> context, UdevPtr<udev_monitor> monitor)
        : context_(std::move(context)), monitor_(std::move(monitor)) {}

    int Fd() const override { return udev_monitor_get_fd(monitor_.get()); }

    std::optional<DeviceEvent> Next() override {
        while (UdevPtr<udev_device> device{udev_monitor_receive_device(monitor_.get())}) {
            const char* action = udev_device_get_action(device.get());
            const char* devnode = udev_device_get_devnode(device.get());
            const char* syspath = udev_device_get_syspath(device.get());
            if (action == nullptr || devnode == nullptr || syspath == nullptr) continue;
            const std::string_view what = action;
            if (what != "add" && what != "remove") continue;
            // Built from the event alone: at removal, sysfs no longer has the device.
            std::string path = MakeHidrawDevicePath(devnode, HidSysnameFromSyspath(syspath));
            if (path.empty()) continue;
            return DeviceEvent{what == "add" ? DeviceEvent::Kind::Arrival : DeviceEvent::Kind::Removal, std::move(path)};
        }
        return std::nullopt;
    }

private:
    UdevPtr<udev> context_;
    UdevPtr<udev_monitor> monitor_;
};

class HidrawPlatform final : public HidPlatform {
public:
    std::optional<std::vector<std::string>> EnumeratePaths() override {
        UdevPtr<udev> context{udev_new()};
        if (!context) return std::nullopt;
        UdevPtr<udev_enumerate> enumerate{udev_enumerate_new(context.get())};
        if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0 ||
            udev_enumerate_scan_devices(enumerate.get()) < 0)
            return std::nullopt;
        std::vector<std::string> paths;
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
            const char* syspath = udev_list_entry_get_name(entry);
            UdevPtr<udev_device> device{udev_device_new_from_syspath(context.get(), syspath)};
            if (!device) continue;
            const char* devnode = udev_device_get_devnode(device.get());
            if (devnode == nullptr) continue;
            std::string path = MakeHidrawDevicePath(devnode, HidSysnameFromSyspath(syspath));
            if (!path.empty()) paths.push_back(std::move(path));
        }
        return paths;
    }

    std::unique_ptr<HidConnection> Open(const std::string& path, bool) override {
        ClearSystemFailure();
        // Opened read-write in every case: feature ioctls and input reads both work on it.
        std::string devnode(HidrawDevnode(path));
        UniqueFd fd(::open(devnode.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd) {
            NoteFailure("open", devnode);
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) {
            NoteFailure("fstat", devnode);
            return nullptr;
        }
        if (!S_ISCHR(st.st_mode)) return nullptr;
        const std::string syspath =
            "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        const std::optional<HidSysfsInfo> info = ReadHidrawSysfs(syspath);
        // The node may have been handed to a device plugged in since the path was listed.
        if (!info || MakeHidrawDevicePath(devnode, info->hidSysname) != path) return nullptr;

        int size = 0;
        if (::ioctl(fd.get(), HIDIOCGRDESCSIZE, &size) < 0) {
            NoteFailure("HIDIOCGRDESCSIZE", devnode);
            return nullptr;
        }
        if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) return nullptr;
        auto raw = std::make_unique<hidraw_report_descriptor>();
        raw->size = static_cast<std::uint32_t>(size);
        if (::ioctl(fd.get(), HIDIOCGRDESC, raw.get()) < 0) {
            NoteFailure("HIDIOCGRDESC", devnode);
            return nullptr;
        }
        std::vector<std::uint8_t> descriptor(raw->value, raw->value + size);
        return std::make_unique<HidrawConnection>(std::move(devnode), std::move(fd),
                                                  HidAttributes{info->vendorId, info->productId, info->versionNumber},
                                                  std::move(descriptor));
    }

    bool PermissionDenied(const std::string& path) override {
        const std::string devnode(HidrawDevnode(path));
        return ::faccessat(AT_FDCWD, devnode.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES;
    }

    std::unique_ptr<DeviceEvents> WatchDevices() override {
        UdevPtr<udev> context{udev_new()};
        if (!context) return nullptr;
        UdevPtr<udev_monitor> monitor{udev_monitor_new_from_netlink(context.get(), "udev")};
        if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor.get()) < 0)
            return nullptr;
        // Next() must not block.
        const int fd = udev_monitor_get_fd(monitor.get());
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return nullptr;
        return std::make_unique<HidrawEvents>(std::move(context), std::move(monitor));
    }
};

}  // namespace

std::optional<HidId> ParseHidId(std::string_view uevent) {
    constexpr std::string_view kKey = "HID_ID=";
    for (std::size_t at = 0; at < uevent.size();) {
        std::size_t end = uevent.find('\n', at);
        if (end == std::string_view::npos) end = uevent.size();
        const std::string_view line = uevent.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, kKey.size()) != kKey) continue;
        // bus:vendor:product, each in hexadecimal (vendor and product 32 bits wide)
        const std::string_view fields = line.substr(kKey.size());
        const std::size_t first = fields.find(':');
        const std::size_t second = first == std::string_view::npos ? first : fields.find(':', first + 1);
        if (second == std::string_view::npos) return std::nullopt;
        const auto vendor = ParseHex(fields.substr(first + 1, second - first - 1));
        const auto product = ParseHex(fields.substr(second + 1));
        if (!ParseHex(fields.substr(0, first)) || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF)
            return std::nullopt;
        return HidId{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
    }
    return std::nullopt;
}

std::optional<HidSysfsInfo> ReadHidrawSysfs(const std::string& syspath) {
    char* resolved = ::realpath(syspath.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string dir = resolved;
    std::free(resolved);

    std::optional<HidSysfsInfo> info;
    for (; dir != "/"; dir = Parent(dir)) {
        const std::optional<std::string> uevent = ReadFile(dir + "/uevent");
        if (!uevent) continue;
        if (!info) {
            if (const std::optional<HidId> id = ParseHidId(*uevent)) {
                info = HidSysfsInfo{std::string(Basename(dir)), id->vendorId, id->productId, 0};
            }
        } else if (HasLine(*uevent, "DEVTYPE=usb_device")) {
            const std::optional<std::string> bcd = ReadFile(dir + "/bcdDevice");
            const std::optional<std::uint32_t> version = bcd ? ParseHex(Trim(*bcd)) : std::nullopt;
            if (version && *version <= 0xFFFF) info->versionNumber = static_cast<std::uint16_t>(*version);
            break;
        }
    }
    return info;
}

std::string MakeHidrawDevicePath(std::string_view devnode, std::string_view hidSysname) {
    // "bus:vendor:product.instance", hexadecimal fields
    const std::size_t first = hidSysname.find(':');
    const std::size_t second = first == std::string_view::npos ? first : hidSysname.find(':', first + 1);
    const std::size_t dot = second == std::string_view::npos ? second : hidSysname.find('.', second + 1);
    if (devnode.empty() || devnode.find('#') != std::string_view::npos || dot == std::string_view::npos) return "";
    const auto bus = ParseHex(hidSysname.substr(0, first));
    const auto vendor = ParseHex(hidSysname.substr(first + 1, second - first - 1));
    const auto product = ParseHex(hidSysname.substr(second + 1, dot - second - 1));
    const std::string_view instance = hidSysname.substr(dot + 1);
    if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF || !ParseHex(instance)) return "";
    char ids[32];
    std::snprintf(ids, sizeof ids, "#VID_%04X&PID_%04X#", static_cast<unsigned>(*vendor), static_cast<unsigned>(*product));
    return std::string(devnode) + ids + std::string(instance);
}

std::string_view HidrawDevnode(std::string_view devicePath) { return devicePath.substr(0, devicePath.find('#')); }

std::string_view HidSysnameFromSyspath(std::string_view syspath) {
    // ".../<hid device>/hidraw/hidrawN"
    const std::size_t node = syspath.find_last_of('/');
    if (node == std::string_view::npos) return "";
    const std::string_view rest = syspath.substr(0, node);
    if (Basename(rest) != "hidraw" || rest.size() <= 7) return "";
    return Basename(rest.substr(0, rest.size() - 7));
}

bool DescriptorUsesReportIds(std::span<const std::uint8_t> descriptor) {
    constexpr std::uint8_t kLongItem = 0xFE, kReportIdTag = 0x84;
    for (std::size_t at = 0; at < descriptor.size();) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == kLongItem) {
            if (at + 1 >= descriptor.size()) break;
            at += 3 + descriptor[at + 1];
            continue;
        }
        if ((prefix & 0xFC) == kReportIdTag) return true;
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        at += 1 + size;
    }
    return false;
}

std::unique_ptr<HidPlatform> MakeHidrawPlatform() { return std::make_unique<HidrawPlatform>(); }
