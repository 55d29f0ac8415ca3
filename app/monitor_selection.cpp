#include "app/monitor_selection.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "app/app_status.h"
#include "monitor/device_commands.h"
#include "monitor/discovery.h"
#include "monitor/transactions.h"

namespace {

constexpr std::uint32_t kBothFamilies = kFamilyNormal | kFamilyStoppedInUpdate;
constexpr std::array<const char*, 3> kMakerVendors{"VID_7E51", "VID_7E52", "VID_7E53"};

bool WaitsInUpdate(MonitorHandle monitor) {
    std::uint16_t version = 0;
    return !IsFailure(MonGetVersionNumber(monitor, &version)) && version == kVersionNumberStoppedInUpdate;
}

}  // namespace

MonitorEntry ReadMonitorEntry(MonitorHandle monitor) {
    MonitorEntry entry{monitor, {}};
    if (IsFailure(MonGetIdentity(monitor, entry.identity))) entry.identity = {};
    return entry;
}

std::vector<std::string> DevicesWithIdentity(const MonitorIdentity& identity) {
    std::vector<std::string> devices;
    const std::uint32_t count = MonOpenDevices(kFamilyNormal);
    for (std::uint32_t i = 0; i < count; ++i) {
        MonitorHandle monitor = kNoMonitor;
        if (IsFailure(MonGetDevice(kFamilyNormal, i, &monitor))) continue;
        if (ReadMonitorEntry(monitor).identity == identity) devices.push_back(MonGetDevicePath(monitor));
    }
    return devices;
}

std::uint32_t CountResumableMonitors() {
    const std::uint32_t normal = MonRefreshDevices();
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < normal; ++i) {
        MonitorHandle monitor = kNoMonitor;
        if (!IsFailure(MonGetDevice(kFamilyNormal, i, &monitor)) && WaitsInUpdate(monitor)) ++count;
    }
    return count + MonOpenDevices(kFamilyStoppedInUpdate);
}

DeviceChange IsMakerDeviceChange(const DeviceEvent* event) {
    if (event == nullptr) return DeviceChange::Other;
    std::string name = event->path;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    const bool maker = std::any_of(kMakerVendors.begin(), kMakerVendors.end(),
                                   [&name](const char* vendor) { return name.find(vendor) != std::string::npos; });
    if (!maker) return DeviceChange::Other;
    return event->kind == DeviceEvent::Kind::Arrival ? DeviceChange::MakerArrival : DeviceChange::MakerRemoval;
}

MonitorSelection::MonitorSelection(std::string recordModel, std::string recordSerial)
    : recordModel_(std::move(recordModel)), recordSerial_(std::move(recordSerial)) {}

MonitorSelection::~MonitorSelection() = default;

std::optional<UserMessage> MonitorSelection::TakeMessage() { return std::exchange(message_, std::nullopt); }

std::string JoinDevices(const std::vector<std::string>& devices) {
    std::string joined;
    for (const std::string& device : devices) joined += (joined.empty() ? "" : ", ") + device;
    return joined;
}

SelectionResult MonitorSelection::Fail(Status status) {
    failure_ = status;
    std::string devices;
    if (status == kAppSameIdentityTwice)
        devices = JoinDevices(DevicesWithIdentity(MonitorIdentity::FromFields(recordModel_, recordSerial_)));
    message_ = StatusMessage(status, recordModel_, recordSerial_, devices);
    if (status == kAppResumableWithoutBackup) message_->recordFolders = recordFolders_;
    return SelectionResult::Cancel;
}

SelectionResult MonitorSelection::Discover(std::uint32_t mode, const std::string& model, const std::string& serial) {
    entries_.clear();
    MonCloseDevices(kBothFamilies);
    selectionMode_ = mode;
    chosenLoaderFlag_ = 0;
    failure_ = kStatusSuccess;
    const MonitorIdentity recorded = MonitorIdentity::FromFields(model, serial);
    return mode == 1 ? FindResumableMonitor(recorded) : FindRecordedMonitor(recorded);
}

// The monitor waiting in an update: the last family-1 one with version number
// 40000, else the first family-29 one.
std::optional<MonitorHandle> MonitorSelection::ResumableChoice() {
    std::optional<MonitorHandle> choice;
    const std::uint32_t normal = MonRefreshDevices();
    for (std::uint32_t i = 0; i < normal; ++i) {
        MonitorHandle monitor = kNoMonitor;
        if (!IsFailure(MonGetDevice(kFamilyNormal, i, &monitor)) && WaitsInUpdate(monitor)) choice = monitor;
    }
    if (choice) return choice;
    MonitorHandle stopped = kNoMonitor;
    if (!IsFailure(MonGetDevice(kFamilyStoppedInUpdate, 0, &stopped))) return stopped;
    return std::nullopt;
}

SelectionResult MonitorSelection::FindResumableMonitor(const MonitorIdentity& recorded) {
    listeningForDevices_ = false;
    const std::uint32_t resumable = CountResumableMonitors();
    if (resumable == 0) {
        // The monitor has left its update state since the backup file was
        // written (the update restarted it into its firmware before it broke
        // off): find it by its identity and resume it as a running monitor.
        if (recorded.Known()) {
            std::optional<MonitorHandle> match;
            const std::uint32_t count = MonOpenDevices(kFamilyNormal);
            for (std::uint32_t i = 0; i < count; ++i) {
                MonitorHandle monitor = kNoMonitor;
                if (IsFailure(MonGetDevice(kFamilyNormal, i, &monitor))) continue;
                if (ReadMonitorEntry(monitor).identity != recorded) continue;
                if (match) return Fail(kAppSameIdentityTwice);
                match = monitor;
            }
            if (match) {
                selectionMode_ = 0;
                recordedMatch_ = *match;
                return SelectionResult::Ok;
            }
        }
        return Fail(kAppRecordedMonitorMissing);
    }
    if (resumable > 1) return Fail(kAppSeveralCandidates);
    const std::optional<MonitorHandle> choice = ResumableChoice();
    if (!choice) return Fail(kAppFailed);
    // The waiting monitor is taken for the recorded one when nothing says
    // otherwise; one whose identity can be read and is another's is not it.
    const MonitorIdentity waiting = ReadMonitorEntry(*choice).identity;
    if (recorded.Known() && waiting.Known() && waiting != recorded) return Fail(kAppRecordedMonitorMissing);
    automaticChoice_ = *choice;
    chosenLoaderFlag_ = 1;
    return SelectionResult::Ok;
}

SelectionResult MonitorSelection::FindRecordedMonitor(const MonitorIdentity& recorded) {
    const std::uint32_t count = MonOpenDevices(kFamilyNormal);
    if (!recorded.Known()) {
        if (CountResumableMonitors() > 0) return Fail(kAppResumableWithoutBackup);
        for (std::uint32_t i = 0; i < count; ++i) {
            MonitorHandle monitor = kNoMonitor;
            if (IsFailure(MonGetDevice(kFamilyNormal, i, &monitor))) continue;
            entries_.push_back(ReadMonitorEntry(monitor));
        }
        // An empty list would leave the user guessing: say why it is empty.
        if (entries_.empty() && MonCountRefusedDevices() > 0) return Fail(kAppDevicesRefused);
        return SelectionResult::List;
    }

    listeningForDevices_ = false;
    std::optional<MonitorEntry> match;
    for (std::uint32_t i = 0; i < count; ++i) {
        MonitorHandle monitor = kNoMonitor;
        if (IsFailure(MonGetDevice(kFamilyNormal, i, &monitor))) continue;
        MonitorEntry entry = ReadMonitorEntry(monitor);
        if (entry.identity != recorded) continue;
        if (match) return Fail(kAppSameIdentityTwice);
        match = std::move(entry);
    }
    const std::uint32_t resumable = CountResumableMonitors();
    if (match && resumable == 0) {
        recordedMatch_ = match->monitorHandle;
        return SelectionResult::Ok;
    }
    // The recorded monitor lost power in its update state and now waits in
    // it, though the backup file was written before it got there: resume it
    // as the monitor waiting in an update it is. It must be the only such
    // monitor, and its identity must be the recorded one: one that cannot be
    // read could be any monitor, and the package would then be checked against
    // the record's model instead of the monitor's.
    if (resumable == 1 && (!match || WaitsInUpdate(match->monitorHandle))) {
        const std::optional<MonitorHandle> choice = ResumableChoice();
        if (choice) {
            if (ReadMonitorEntry(*choice).identity == recorded) {
                selectionMode_ = 1;
                automaticChoice_ = *choice;
                chosenLoaderFlag_ = 1;
                return SelectionResult::Ok;
            }
        }
    }
    return Fail(match ? kAppSeveralCandidates : kAppRecordedMonitorMissing);
}

void MonitorSelection::Select(std::size_t index) {
    for (std::size_t i = 0; i < entries_.size(); ++i) MonIdentify(entries_[i].monitorHandle, i == index);
}

MonitorHandle MonitorSelection::Confirm(std::optional<std::size_t> selected) {
    MonitorHandle chosen = kNoMonitor;
    if (selectionMode_ == 1) {
        chosen = automaticChoice_;
    } else {
        MonitorHandle listed = kNoMonitor;
        if (selected && *selected < entries_.size()) {
            listed = entries_[*selected].monitorHandle;
            MonIdentify(listed, false);
        }
        chosen = recordedMatch_ != kNoMonitor ? recordedMatch_ : listed;
    }
    entries_.clear();
    return chosen;
}

void MonitorSelection::Cancel(std::optional<std::size_t> selected) {
    if (selected && *selected < entries_.size()) MonIdentify(entries_[*selected].monitorHandle, false);
    entries_.clear();
}

bool MonitorSelection::OnDeviceChange(const DeviceEvent* event) {
    if (!listeningForDevices_ || IsMakerDeviceChange(event) == DeviceChange::Other) return false;
    Discover(0, {}, {});
    return true;
}
