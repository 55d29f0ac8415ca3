#pragma once
// The deciding part of the monitor selection: which connected monitor a run
// updates. A backup file that expects a monitor waiting in an update picks the
// one such monitor; one that names a monitor picks the connected monitor of
// that model and serial number; otherwise the connected monitors are listed
// for the user. The dialog shows what this decides.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/status_message.h"
#include "common/display_text.h"
#include "common/monitor_identity.h"
#include "hid/device_events.h"
#include "monitor/registry.h"

struct MonitorEntry {
    MonitorHandle monitorHandle = kNoMonitor;
    MonitorIdentity identity;
    // The line of the drop-down list, the monitor's texts escaped where they could act.
    std::string Line() const { return "Name:" + DisplayText(identity.model) + "  S/N:" + DisplayText(identity.serial); }
};

// The monitor's identity; empty when it cannot be read.
MonitorEntry ReadMonitorEntry(MonitorHandle monitor);

// The device paths of the connected monitors (family 1) that present this
// identity, in registration order. Two or more: no identity tells them apart,
// so neither may be updated, as reconnecting after a restart could take the other.
std::vector<std::string> DevicesWithIdentity(const MonitorIdentity& identity);
// "a, b, c", as messages name devices.
std::string JoinDevices(const std::vector<std::string>& devices);

// How many connected monitors present themselves as waiting in an update: a
// family-1 monitor with the version number 40000, or any family-29 monitor.
std::uint32_t CountResumableMonitors();

enum class DeviceChange { MakerArrival = 0, MakerRemoval = 1, Other = 2 };
// A device of the maker's vendor ids (in either case) arriving or leaving;
// Other for no event and for any other device.
DeviceChange IsMakerDeviceChange(const DeviceEvent* event);

enum class SelectionResult { Cancel = 0, Ok = 1, List = 100 };

class MonitorSelection {
public:
    // The backup record's model name and serial number, for the messages.
    MonitorSelection(std::string recordModel, std::string recordSerial);
    ~MonitorSelection();
    MonitorSelection(const MonitorSelection&) = delete;
    MonitorSelection& operator=(const MonitorSelection&) = delete;

    // Decides by the loader flag (1: a monitor waiting in an update) and the
    // model name and serial number a backup file named (empty: none).
    SelectionResult Discover(std::uint32_t mode, const std::string& model, const std::string& serial);
    // Where the run looked for a backup record: the message for a monitor waiting
    // in an update without one names them.
    void SetRecordFolders(std::vector<std::string> folders) { recordFolders_ = std::move(folders); }
    // The message the last decision calls for (shown with the error icon), once.
    std::optional<UserMessage> TakeMessage();
    // The status behind the last decision's message; kStatusSuccess when it called for none.
    Status FailureStatus() const { return failure_; }

    const std::vector<MonitorEntry>& Entries() const { return entries_; }
    // Identification on for the monitor of line `index`, off for all others.
    void Select(std::size_t index);
    // The monitor chosen (kNoMonitor when none); switches the selected line's
    // identification off and empties the list.
    MonitorHandle Confirm(std::optional<std::size_t> selected);
    void Cancel(std::optional<std::size_t> selected);
    // Rebuilds the list (plain listing) on a maker's device arriving or
    // leaving while the list is shown; true when it did.
    bool OnDeviceChange(const DeviceEvent* event);

    bool ListeningForDevices() const { return listeningForDevices_; }
    // The loader flag the chosen monitor calls for: 1 when it waits in an update.
    std::uint32_t ChosenLoaderFlag() const { return chosenLoaderFlag_; }

private:
    SelectionResult FindResumableMonitor(const MonitorIdentity& recorded);
    SelectionResult FindRecordedMonitor(const MonitorIdentity& recorded);
    std::optional<MonitorHandle> ResumableChoice();
    SelectionResult Fail(Status status);

    std::string recordModel_;
    std::string recordSerial_;
    std::uint32_t selectionMode_ = 0;
    bool listeningForDevices_ = true;
    std::vector<MonitorEntry> entries_;
    MonitorHandle automaticChoice_ = kNoMonitor;
    MonitorHandle recordedMatch_ = kNoMonitor;
    std::uint32_t chosenLoaderFlag_ = 0;
    std::vector<std::string> recordFolders_;
    std::optional<UserMessage> message_;
    Status failure_ = kStatusSuccess;
};
