#include "monitor/discovery.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <random>
#include <vector>

#include "common/clock.h"
#include "hid/device_list.h"
#include "hid/hid_platform.h"
#include "monitor/setting_b8.h"
#include "monitor/transactions.h"

namespace {

// The USB vendor IDs under which the maker's monitors appear.
const std::vector<std::uint16_t> kVendors{0x7E52, 0x7E51, 0x7E53};

// Product classes each family bit adds, in bit order.
struct Family {
    std::uint32_t mask;
    std::array<std::uint16_t, 2> classes;
    std::size_t count;
};
constexpr std::array<Family, 9> kFamilies{{
    {0x00000001, {0x0002, 0x4000}, 2},
    {0x00000002, {0x000D, 0x8000}, 2},
    {0x00000004, {0x000F}, 1},
    {0x00000008, {0x0014}, 1},
    {0x00000010, {0x8100}, 1},
    {0x00000020, {0x8300}, 1},
    {0x20000000, {0x0006, 0x000E}, 2},
    {0x40000000, {0x0005}, 1},
    {0x80000000, {0x0006}, 1},
}};

constexpr std::uint16_t kIdentityPage = 0xFF00, kIdentityUsage = 0x0035;
constexpr std::size_t kSerialBytes = 8;  // the identity block starts with the serial number
constexpr std::size_t kModelLimit = 17, kSerialLimit = 9;

constexpr std::uint16_t kUpdatePage = 0xFF02;
constexpr std::uint16_t kCombinedPacket = 0x00FE, kBootSelector = 0x00FB, kRestart = 0x00F4;

std::vector<std::uint16_t> ClassesOf(std::uint32_t families) {
    std::vector<std::uint16_t> classes;
    for (const Family& f : kFamilies) {
        if ((families & f.mask) != 0) classes.insert(classes.end(), f.classes.begin(), f.classes.begin() + f.count);
    }
    return classes;
}

// Membership is decided by the product class the device reports now.
bool Belongs(HidDevice& device, const std::vector<std::uint16_t>& classes) {
    return std::find(classes.begin(), classes.end(), device.GetProductClass()) != classes.end();
}

std::atomic<std::uint32_t> g_startupSeed{0};  // 0: the process id

// Spreads the start of processes that enumerate at the same moment: 10 to
// 500 ms, the same for every call of one process.
void StartupDelay() {
    const std::uint32_t seed = g_startupSeed.load();
    std::minstd_rand generator(seed != 0 ? seed : static_cast<std::uint32_t>(::getpid()));
    SleepMs(static_cast<std::uint32_t>(generator() % 50 + 1) * 10);
}

bool IsRegistered(const std::string& path) {
    const auto& entries = monitor_registry::Entries();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const monitor_registry::Entry& e) { return e.device->GetDevicePath() == path; });
}

// Appends the devices whose paths are not registered yet, in list order; the others are destroyed with the list.
void RegisterNew(DeviceList& found) {
    for (auto& device : found) {
        if (!IsRegistered(device->GetDevicePath())) monitor_registry::Register(std::move(device));
    }
}

std::uint32_t CountMembers(const std::vector<std::uint16_t>& classes) {
    const auto& entries = monitor_registry::Entries();
    return static_cast<std::uint32_t>(std::count_if(
        entries.begin(), entries.end(), [&](const monitor_registry::Entry& e) { return Belongs(*e.device, classes); }));
}

Status CopyText(std::string_view text, std::size_t limit, std::span<char> buffer) {
    if (text.size() > limit) return kMonTextTooLong;
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = '\0';
    return kStatusSuccess;
}

bool Lacks(MonitorHandle handle, std::uint16_t page, std::uint16_t usage) {
    std::uint32_t absent = 1;
    return IsFailure(MonIsUnsupported(handle, page, usage, &absent)) || absent != 0;
}

}  // namespace

void SeedStartupDelay(std::uint32_t seed) { g_startupSeed.store(seed); }

std::uint32_t MonOpenDevices(std::uint32_t families) {
    StartupDelay();
    const auto lock = monitor_registry::Lock();
    const std::vector<std::uint16_t> classes = ClassesOf(families);
    DeviceList found;
    CreateDeviceList(found, kVendors, classes, families);
    RegisterNew(found);
    return CountMembers(classes);
}

namespace {

// Both backends name the vendor in the path, so it is known without opening the device.
bool IsMakerPath(const std::string& path) {
    const std::size_t at = path.find("VID_");
    if (at == std::string::npos || at + 8 > path.size()) return false;
    unsigned vendor = 0;
    const char* digits = path.data() + at + 4;
    if (std::from_chars(digits, digits + 4, vendor, 16).ptr != digits + 4) return false;
    return std::find(kVendors.begin(), kVendors.end(), vendor) != kVendors.end();
}

}  // namespace

std::uint32_t MonCountRefusedDevices() {
    const auto lock = monitor_registry::Lock();
    HidPlatform& platform = ActivePlatform();
    const std::optional<std::vector<std::string>> paths = platform.EnumeratePaths();
    if (!paths) return 0;
    return static_cast<std::uint32_t>(std::count_if(paths->begin(), paths->end(), [&](const std::string& path) {
        return IsMakerPath(path) && platform.PermissionDenied(path);
    }));
}

std::vector<std::string> MonListMakerPaths() {
    const auto lock = monitor_registry::Lock();
    std::vector<std::string> maker;
    if (const std::optional<std::vector<std::string>> paths = ActivePlatform().EnumeratePaths())
        std::copy_if(paths->begin(), paths->end(), std::back_inserter(maker), IsMakerPath);
    return maker;
}

Status MonCloseDevices(std::uint32_t families) {
    const auto lock = monitor_registry::Lock();
    const std::vector<std::uint16_t> classes = ClassesOf(families);
    std::erase_if(monitor_registry::Entries(),
                  [&](const monitor_registry::Entry& e) { return Belongs(*e.device, classes); });
    return kStatusSuccess;
}

Status MonGetDevice(std::uint32_t families, std::uint32_t index, MonitorHandle* handle) {
    if (handle == nullptr) return kMonFailed;
    const auto lock = monitor_registry::Lock();
    const std::vector<std::uint16_t> classes = ClassesOf(families);
    std::uint32_t position = 0;
    for (const monitor_registry::Entry& e : monitor_registry::Entries()) {
        if (!Belongs(*e.device, classes)) continue;
        if (position++ == index) {
            *handle = e.handle;
            return kStatusSuccess;
        }
    }
    return kMonFailed;
}

std::uint32_t MonRefreshDevices() {
    StartupDelay();
    const auto lock = monitor_registry::Lock();
    const std::vector<std::uint16_t> classes = ClassesOf(kFamilyNormal);
    DeviceList present;
    // A list that cannot be read says nothing about what is plugged in: keep the registry as it is.
    const std::optional<std::size_t> listed = CreateDeviceList(present, kVendors, classes, kFamilyNormal);
    if (!listed) return 0;
    const auto count = static_cast<std::uint32_t>(*listed);

    auto isPresent = [&present](const std::string& path) {
        return std::any_of(present.begin(), present.end(), [&](const auto& d) { return d->GetDevicePath() == path; });
    };
    auto& entries = monitor_registry::Entries();
    std::erase_if(entries, [&](const monitor_registry::Entry& e) {
        return Belongs(*e.device, classes) && !e.device->IsConnected();
    });
    std::erase_if(entries, [&](const monitor_registry::Entry& e) {
        return Belongs(*e.device, classes) && !isPresent(e.device->GetDevicePath());
    });
    RegisterNew(present);
    return count;
}

Status MonGetVersionNumber(MonitorHandle handle, std::uint16_t* version) {
    if (version == nullptr) return kMonFailed;
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    if (device == nullptr) return kMonFailed;
    *version = device->GetVersionNumber();
    return kStatusSuccess;
}

std::string MonGetDevicePath(MonitorHandle handle) {
    const auto lock = monitor_registry::Lock();
    HidDevice* device = monitor_registry::Find(handle);
    return device == nullptr ? std::string() : device->GetDevicePath();
}

Status MonReadIdentity(MonitorHandle handle, std::string& model, std::string& serial) {
    const auto lock = monitor_registry::Lock();
    std::uint32_t length = 0;
    if (IsFailure(MonGetIdentityLength(handle, length))) return kMonTransferFailed;
    // One byte more than the block, always zero, ends the model name at the latest.
    std::vector<std::uint8_t> block(std::size_t{length} + 1, 0);
    if (IsFailure(MonReadBlock(handle, kIdentityPage, kIdentityUsage, std::span(block).first(length))))
        return kMonTransferFailed;
    if (length <= kSerialBytes) return kStatusSuccess;
    const auto modelStart = block.begin() + kSerialBytes;
    const auto modelEnd = std::find_if(modelStart, block.end(), [](std::uint8_t b) { return b == 0 || b == ' '; });
    serial.assign(block.begin(), modelStart);
    model.assign(modelStart, modelEnd);
    return kStatusSuccess;
}

Status MonGetModelName(MonitorHandle handle, std::span<char> buffer) {
    if (buffer.size() < kModelLimit + 1) return kMonBadArgument;
    std::string model, serial;
    if (const Status status = MonReadIdentity(handle, model, serial); IsFailure(status)) return status;
    return CopyText(model, kModelLimit, buffer);
}

Status MonGetSerialNumber(MonitorHandle handle, std::span<char> buffer) {
    if (buffer.size() < kSerialLimit + 1) return kMonBadArgument;
    MonitorIdentity identity;
    if (const Status status = MonGetIdentity(handle, identity); IsFailure(status)) return status;
    return CopyText(identity.serial, kSerialLimit, buffer);
}

Status MonGetIdentity(MonitorHandle handle, MonitorIdentity& identity) {
    std::string model, serial;
    if (const Status status = MonReadIdentity(handle, model, serial); IsFailure(status)) return status;
    identity = MonitorIdentity::FromFields(model, serial);
    return kStatusSuccess;
}

MonitorHandle MonReopenByIdentity(const MonitorIdentity& identity) {
    const auto lock = monitor_registry::Lock();
    MonCloseDevices(kFamilyNormal);
    const std::uint32_t count = MonOpenDevices(kFamilyNormal);
    MonitorHandle match = kNoMonitor;
    for (std::uint32_t i = 0; i < count; ++i) {
        MonitorHandle handle = kNoMonitor;
        if (IsFailure(MonGetDevice(kFamilyNormal, i, &handle))) continue;
        MonitorIdentity found;
        if (IsFailure(MonGetIdentity(handle, found)) || found != identity) continue;
        if (match != kNoMonitor) return kNoMonitor;  // two monitors of one identity
        match = handle;
    }
    // A monitor without combined block packets is to have setting B8 on once
    // it is reconnected; one that reads off is switched off and on again.
    if (match != kNoMonitor && Lacks(match, kUpdatePage, kCombinedPacket)) {
        std::int32_t b8 = 0;  // a failed read counts as off
        MonGetSettingB8(match, &b8);
        if (b8 == 0) {
            MonSetSettingB8(match, 0);
            MonSetSettingB8(match, 1);
        }
    }
    return match;
}

std::vector<MonitorHandle> MonListWaitingMonitors() {
    const auto lock = monitor_registry::Lock();
    std::vector<MonitorHandle> waiting;
    const std::uint32_t normal = MonRefreshDevices();
    for (std::uint32_t i = 0; i < normal; ++i) {
        MonitorHandle handle = kNoMonitor;
        std::uint16_t version = 0;
        if (!IsFailure(MonGetDevice(kFamilyNormal, i, &handle)) && !IsFailure(MonGetVersionNumber(handle, &version)) &&
            version == kVersionNumberStoppedInUpdate)
            waiting.push_back(handle);
    }
    // A refresh leaves family-29 monitors registered after they are gone: only connected ones count.
    const std::uint32_t stopped = MonOpenDevices(kFamilyStoppedInUpdate);
    for (std::uint32_t i = 0; i < stopped; ++i) {
        MonitorHandle handle = kNoMonitor;
        if (IsFailure(MonGetDevice(kFamilyStoppedInUpdate, i, &handle))) continue;
        if (HidDevice* device = monitor_registry::Find(handle); device != nullptr && device->IsConnected())
            waiting.push_back(handle);
    }
    return waiting;
}

MonitorHandle MonRestartAndReconnect(MonitorHandle handle, const MonitorIdentity& identity,
                                     UpdateProgress* progress) {
    if (!Lacks(handle, kUpdatePage, kCombinedPacket) && IsFailure(MonWriteValue(handle, kUpdatePage, kBootSelector, 0)))
        return kNoMonitor;
    if (IsFailure(MonWriteValue(handle, kUpdatePage, kRestart, 0))) return kNoMonitor;
    // Mostly back after the first wait; the longest is every attempt.
    const ReportedWait wait(progress, kRestartReconnectWaitMs, kRestartReconnectAttempts * kRestartReconnectWaitMs);
    // The registry lock is not held between attempts.
    for (int attempt = 0; attempt < kRestartReconnectAttempts; ++attempt) {
        SleepMs(kRestartReconnectWaitMs);
        if (const MonitorHandle found = MonReopenByIdentity(identity); found != kNoMonitor) return found;
    }
    return kNoMonitor;
}
