#include <array>
#include <vector>

#include "app/app_status.h"
#include "app/failure_report.h"
#include "app/main_workflow.h"
#include "app/update_lock.h"
#include "app/version_display.h"
#include "cli/cli_view.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/table_output.h"
#include "common/display_text.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"

namespace {

struct ListedMonitor {
    std::string model, serial, version, device;
    bool inUpdate = false;
};

ListedMonitor Describe(MonitorHandle monitor, bool stoppedInUpdate) {
    ListedMonitor listed;
    const MonitorEntry entry = ReadMonitorEntry(monitor);
    listed.model = entry.identity.model;
    listed.serial = entry.identity.serial;
    std::uint16_t versionNumber = 0;
    listed.inUpdate = stoppedInUpdate || (!IsFailure(MonGetVersionNumber(monitor, &versionNumber)) &&
                                          versionNumber == kVersionNumberStoppedInUpdate);
    std::array<char, kVersionTextBytes> text{};
    if (!IsFailure(MonGetFirmwareVersion(monitor, text))) {
        listed.version = FormatVersion(text.data());
    }
    listed.device = MonGetDevicePath(monitor);
    return listed;
}

struct Listing {
    std::vector<ListedMonitor> monitors;
    std::uint32_t refused = 0;  // the maker's monitors present that this user may not open
};

// Every monitor of the maker present: those running their firmware (or
// waiting in an update under their usual identity), then those stopped in an update.
Listing ListMonitors() {
    Listing listing;
    std::vector<ListedMonitor>& monitors = listing.monitors;
    for (const std::uint32_t family : {kFamilyNormal, kFamilyStoppedInUpdate}) {
        const std::uint32_t count = MonOpenDevices(family);
        for (std::uint32_t i = 0; i < count; ++i) {
            MonitorHandle monitor = kNoMonitor;
            if (!IsFailure(MonGetDevice(family, i, &monitor)))
                monitors.push_back(Describe(monitor, family == kFamilyStoppedInUpdate));
        }
    }
    MonCloseDevices(kAllRunFamilies);
    listing.refused = MonCountRefusedDevices();
    return listing;
}

void PrintJson(std::ostream& out, const Listing& listing, const std::string& updateRunning) {
    JsonWriter json = JsonOutput(out);
    json.BeginObject().Key("monitors").BeginArray();
    for (const ListedMonitor& m : listing.monitors) {
        json.BeginObject()
            .Field("model", m.model)
            .Field("serial", m.serial)
            .Field("version", m.version)
            .Field("state", m.inUpdate ? "in-update" : "running")
            .Field("device", m.device)
            .EndObject();
    }
    json.EndArray().Field("refused", listing.refused);
    if (!updateRunning.empty()) json.Field("updateRunning", updateRunning);
    json.EndObject();
    out << "\n";
}

void PrintMonitors(std::ostream& out, const std::vector<ListedMonitor>& monitors) {
    std::vector<std::vector<std::string>> rows{{"MODEL", "SERIAL", "VERSION", "STATE", "DEVICE"}};
    for (const ListedMonitor& m : monitors)
        rows.push_back({Cell(m.model), Cell(m.serial), Cell(m.version), m.inUpdate ? "in-update" : "running",
                        DisplayText(m.device)});
    PrintTable(out, rows);
}

}  // namespace

int ListCommand(const CommandLine& line, CliIo& io) {
    const std::optional<std::string> folder = CommandFolder(io);
    if (!folder) return kExitFailed;
    // A tunnelled monitor hands each reply out once: opening monitors while an
    // update talks to them could take the update's replies.
    // Only looked at, never taken: a list never refuses an update.
    if (const std::optional<UpdateLockHolder> running = RunningUpdate()) {
        const std::string holder = running->Description();
        if (line.json)
            PrintJson(io.out, {.monitors = {}, .refused = MonCountRefusedDevices()}, holder);  // opens none
        else
            io.out << LocalText(text_id::kListDuringUpdate, io.language, {holder}) << "\n";
        return kExitDone;
    }
    const Listing listing = ListMonitors();
    if (line.json)
        PrintJson(io.out, listing, {});
    else if (listing.monitors.empty() && listing.refused == 0)
        io.out << CatalogueText(text_id::kNoMonitor, io.language) << "\n";
    else if (!listing.monitors.empty())
        PrintMonitors(io.out, listing.monitors);
    if (listing.refused == 0) return kExitDone;

    // Monitors are there but cannot be listed: the window's message for it. With
    // some listed, the list still ran as asked (as the window lists those it can
    // open), so it only adds why the others are missing.
    const std::string why = LocalText(text_id::kDevicesRefused, io.language);
    if (!listing.monitors.empty()) {
        const int refused = static_cast<int>(listing.refused);
        io.err << kCliName << ": " << LocalText(text_id::kMonitorsNotOpened, io.language, {refused}) << "\n"
               << kCliName << ": " << why << "\n";
        return kExitDone;
    }
    io.err << kCliName << ": " << why << "\n" << kCliName << ": status " << StatusCodeText(kAppDevicesRefused) << "\n";
    return kExitFailed;
}
