#include <array>
#include <vector>

#include "app/main_workflow.h"
#include "app/update_lock.h"
#include "app/version_display.h"
#include "cli/cli_view.h"
#include "cli/commands.h"
#include "common/json.h"
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
        const std::string version = text.data();
        listed.version = FormatVersionHead(version) + FormatVersionTail(version);
    }
    listed.device = MonGetDevicePath(monitor);
    return listed;
}

// Every monitor of the maker present: those running their firmware (or
// waiting in an update under their usual identity), then those stopped in an update.
std::vector<ListedMonitor> ListMonitors() {
    std::vector<ListedMonitor> monitors;
    for (const std::uint32_t family : {kFamilyNormal, kFamilyStoppedInUpdate}) {
        const std::uint32_t count = MonOpenDevices(family);
        for (std::uint32_t i = 0; i < count; ++i) {
            MonitorHandle monitor = kNoMonitor;
            if (!IsFailure(MonGetDevice(family, i, &monitor)))
                monitors.push_back(Describe(monitor, family == kFamilyStoppedInUpdate));
        }
    }
    MonCloseDevices(kAllRunFamilies);
    return monitors;
}

void PrintJson(std::ostream& out, const std::vector<ListedMonitor>& monitors, const std::string& updateRunning) {
    out << "{\"monitors\":[";
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const ListedMonitor& m = monitors[i];
        out << (i ? "," : "") << "{\"model\":" << JsonText(m.model) << ",\"serial\":" << JsonText(m.serial)
            << ",\"version\":" << JsonText(m.version) << ",\"state\":\"" << (m.inUpdate ? "in-update" : "running")
            << "\",\"device\":" << JsonText(m.device) << "}";
    }
    out << "]";
    if (!updateRunning.empty()) out << ",\"updateRunning\":" << JsonText(updateRunning);
    out << "}\n";
}

void PrintTable(std::ostream& out, const std::vector<ListedMonitor>& monitors) {
    std::vector<std::array<std::string, 5>> rows{{"MODEL", "SERIAL", "VERSION", "STATE", "DEVICE"}};
    for (const ListedMonitor& m : monitors)
        rows.push_back({m.model.empty() ? "?" : m.model, m.serial.empty() ? "?" : m.serial,
                        m.version.empty() ? "?" : m.version, m.inUpdate ? "in-update" : "running", m.device});
    std::array<std::size_t, 5> widths{};
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string text;
        for (std::size_t c = 0; c < row.size(); ++c)
            text += c + 1 < row.size() ? row[c] + std::string(widths[c] - row[c].size() + 2, ' ') : row[c];
        out << text << "\n";
    }
}

}  // namespace

int ListCommand(const CommandLine& line, CliIo& io) {
    const std::optional<std::string> folder = CommandFolder(io);
    if (!folder) return kExitFailed;
    // A tunnelled monitor hands each reply out once: opening monitors while an
    // update talks to them could take the update's replies.
    const UpdateLock lock(*folder, "quillon-cli");
    if (lock.Busy()) {
        const std::string holder = lock.Holder().Description();
        if (line.json)
            PrintJson(io.out, {}, holder);
        else
            io.out << LocalText(text_id::kListDuringUpdate, io.language, {holder}) << "\n";
        return kExitDone;
    }
    const std::vector<ListedMonitor> monitors = ListMonitors();
    if (line.json)
        PrintJson(io.out, monitors, {});
    else if (monitors.empty())
        io.out << CatalogueText(text_id::kNoMonitor, io.language) << "\n";
    else
        PrintTable(io.out, monitors);
    return kExitDone;
}
