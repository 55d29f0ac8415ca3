#include "conflict/known_programs.h"

#include <initializer_list>

namespace {

std::map<std::string, KnownProgram> BuildTable() {
    // displayName, exeName, hiddenFromList, restartAfterUpdate, closeOrder, pipeName, serviceName
    const std::initializer_list<KnownProgram> rows = {
        {"Tintorra 6", "Tintorra 6.exe", false, false, 0, "", ""},
        {"Tintorra 6 Core", "tt6_hubcore.exe", true, false, 100, "", ""},
        {"Tintorra Aurel", "Tintorra Aurel.exe", false, false, 0, "", ""},
        {"Tintorra Aurel Core", "tta_hubcore.exe", true, false, 100, "", ""},
        {"Tintorra Lite", "Tintorra Lite.exe", false, false, 0, "", ""},
        {"Tintorra Lite Core", "ttl_hubcore.exe", true, false, 100, "", ""},
        {"Tintorra NetAgent", "TTNetAgent.exe", true, true, 0, "", ""},
        {"Omnitint Pro", "otpro.exe", false, false, 0, "", ""},
        {"Scanvell Glowkeeper", "Glowkeeper.exe", true, true, 100, "", ""},
        {"Scanvell 4 Service", "ScanvellService.exe", true, true, 100, "", "ScanvellService"},
        {"Panelwarden Pro", "Pnlctrl.exe", false, false, 0, "", ""},
        {"Tintorra 7", "Tintorra 7.exe", false, false, 0, "Tintorra 7", ""},
        {"Scanvell 5", "Scanvell5.exe", true, false, 0, "Scanvell", ""},
        {"Scanvell 5 Service", "Scanvell5Service.exe", true, true, 100, "", "Scanvell5Service"},
    };
    std::map<std::string, KnownProgram> table;
    for (const KnownProgram& row : rows) table.emplace(row.exeName, row);
    return table;
}

}  // namespace

const std::map<std::string, KnownProgram>& GetKnownPrograms() {
    static const std::map<std::string, KnownProgram> table = BuildTable();
    return table;
}
