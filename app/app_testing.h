#pragma once
// What the application tests share: a bench with emulated monitors served
// in-process on a virtual clock, a package file made for them in a temporary
// folder, and a view that plays the user, recording what the window would show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_workflow.h"
#include "common/clock.h"
#include "hid/hid_platform.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/model_platform_testing.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "package/package_testing.h"
#include "package/version_text.h"
#include "emulator/firmware_image.h"
#include "emulator/monitor.h"
#include "update/update_fixture_testing.h"

namespace app_testing {

// A file's whole content (empty when it cannot be read), its lines, and a
// search in it, for the tests that read run logs and records.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The versions, settings and kind names the update engine's tests use too.
using update_testing::kAfter;
using update_testing::kBefore;
using update_testing::MemoryText;
using update_testing::ReadSettings;
using update_testing::Settings;

inline constexpr std::array<MonitorKind, 3> kAllKinds{MonitorKind::OlderNative, MonitorKind::OlderTunnel,
                                                      MonitorKind::CombinedTunnel};

// Plays the user and records what the window shows.
class ScriptedView final : public WorkflowView {
public:
    // The user's answers.
    bool acceptReadMe = true;
    bool acceptPrograms = true;
    bool acceptWarning = true;
    std::optional<std::size_t> listChoice = 0;  // the line chosen in a list; nullopt: Cancel
    std::optional<std::string> chosenPackage;    // the package chosen when asked; nullopt: Cancel

    // What was shown.
    std::vector<UserMessage> messages;
    std::vector<std::vector<std::string>> programLists;
    std::vector<std::uint32_t> estimates;
    std::size_t packageChoices = 0;  // how often the user was asked to choose a package
    std::vector<std::vector<std::string>> lists;  // the lines of each list shown
    std::vector<SelectionResult> decisions;
    std::string title;
    std::optional<VersionLines> currentVersion;
    std::optional<VersionLines> newVersion;
    std::vector<ProgressSnapshot> progress;  // every snapshot shown, in order
    bool updateEnabled = false;
    bool waitCursor = false;
    bool timerRunning = false;
    bool ended = false;

    bool ConfirmReadMe() override { return acceptReadMe; }
    bool ConfirmProgramsToClose(const std::vector<std::string>& programs) override {
        programLists.push_back(programs);
        return acceptPrograms;
    }
    std::optional<MonitorHandle> SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                               const std::string& model, const std::string& serial) override {
        const SelectionResult result = selection.Discover(mode, model, serial);
        decisions.push_back(result);
        if (std::optional<UserMessage> message = selection.TakeMessage()) messages.push_back(*message);
        if (result == SelectionResult::Cancel) {
            selection.Cancel(std::nullopt);
            return std::nullopt;
        }
        if (result == SelectionResult::Ok) return selection.Confirm(std::nullopt);
        std::vector<std::string> lines;
        for (const MonitorEntry& e : selection.Entries()) lines.push_back(e.Line());
        lists.push_back(lines);
        if (lines.empty() || !listChoice || *listChoice >= lines.size()) {
            selection.Cancel(std::nullopt);
            return std::nullopt;
        }
        selection.Select(*listChoice);
        return selection.Confirm(*listChoice);
    }
    std::optional<std::string> ChoosePackage() override {
        ++packageChoices;
        return chosenPackage;
    }
    bool ConfirmWarning(std::uint32_t minutes) override {
        estimates.push_back(minutes);
        return acceptWarning;
    }
    void ShowMessage(const UserMessage& message) override {
        messages.push_back(message);
        if (onMessage) onMessage(message);
    }
    // Called as each message is shown, for a test to look at the monitor then.
    std::function<void(const UserMessage&)> onMessage;
    void ShowTitle(const std::string& text) override { title = text; }
    void ShowCurrentVersion(const VersionLines& lines) override { currentVersion = lines; }
    void ShowNewVersion(const std::optional<VersionLines>& lines) override { newVersion = lines; }
    void SetUpdateEnabled(bool enabled) override { updateEnabled = enabled; }
    void SetWaitCursor(bool on) override { waitCursor = on; }
    void SetTimerRunning(bool running) override { timerRunning = running; }
    void ShowProgress(const ProgressSnapshot& snapshot) override { progress.push_back(snapshot); }
    void EndDialog() override { ended = true; }

    std::vector<TextId> MessageIds() const {
        std::vector<TextId> ids;
        for (const UserMessage& m : messages) ids.push_back(m.text);
        return ids;
    }
};

// What a package made for the emulated monitors holds.
struct PackageContents {
    std::string model = "QX27*";
    VersionFields from = kBefore;  // the set's key: the version it updates
    VersionFields images = kAfter;
    std::string version = MemoryText(kAfter);
    std::uint16_t writeSeconds = 30;
    std::vector<std::uint16_t> types{2, 3, 1, 4, 5};  // the firmware components the set carries
    std::uint32_t areaScale = 1;  // of the monitor it is for (MonitorConfig::areaScale)
};

// Packages that differ from the one made for the monitors in one respect, for
// the tables of refused packages.
inline PackageContents WithModel(const char* model) {
    PackageContents c;
    c.model = model;
    return c;
}
inline PackageContents WithVersion(const char* version) {
    PackageContents c;
    c.version = version;
    return c;
}
inline PackageContents ForVersion(VersionFields from) {
    PackageContents c;
    c.from = from;
    return c;
}

// Writes a package with one set for `from`, components carrying `images`'
// fields, with read-back for PRG001 and AIC904, and a list of indexed settings.
inline void WritePackageFile(const std::string& path, const PackageContents& contents) {
    static constexpr std::array<std::uint16_t, 5> kAreaTypes{2, 3, 1, 4, 5};
    FirmwareSet set;
    set.key = MemoryText(contents.from);
    for (std::size_t i = 0; i < kAreaTypes.size(); ++i) {
        const ComponentArea area = ScaledArea(ComponentAreas()[i], contents.areaScale).value();
        const std::uint16_t type = kAreaTypes[i];
        if (std::find(contents.types.begin(), contents.types.end(), type) == contents.types.end()) continue;
        const bool readBack = type == 3 || type == 5;
        set.components.emplace(
            type, testing_support::Component(type, MakeImage(area, contents.images[area.versionField], area.Capacity(), type),
                                             contents.writeSeconds, readBack ? 1 : 0));
    }
    set.components.emplace(6, testing_support::Component(6, {5, 0, 9, 0, 7}));
    FirmwarePackage package = testing_support::Package(contents.model, contents.version, {});
    package.sets.emplace(set.key, set);
    testing_support::WritePayload(path, testing_support::PackagePayload(package));
}

// Ticks until no worker thread is left; a tick while the worker runs steps
// the activity indicator, as the window's timer would.
inline void TickWhileWorking(MainWorkflow& workflow) {
    while (workflow.WorkerExists()) {
        workflow.Tick();
        workflow.WaitForWorker();
        workflow.Tick();
    }
}

// A whole run as the user makes it: start, wait for the file phase, press
// Update once it is enabled (when `pressUpdate`), and wait for the end.
inline void RunToEnd(MainWorkflow& workflow, ScriptedView& view, bool pressUpdate = true) {
    workflow.Start();
    TickWhileWorking(workflow);
    if (workflow.Ended() || !pressUpdate || !view.updateEnabled) return;
    workflow.PressUpdate();
    TickWhileWorking(workflow);
}

// Where the bench keeps its folder: in memory when the machine offers it,
// since every backup file write is flushed to disk and there are thousands.
inline std::filesystem::path BenchFolderBase() {
    const std::filesystem::path memory = "/dev/shm";
    std::error_code error;
    if (std::filesystem::is_directory(memory, error) && access(memory.c_str(), W_OK) == 0) return memory;
    return std::filesystem::temp_directory_path();
}

// Emulated monitors, a folder with a package for them, and fresh runs of the
// updater, as many as a test needs, as separate processes would make them.
class Bench {
public:
    Bench() {
        MonCloseDevices(0xFFFFFFFF);
        PkgCloseAll();
        std::string failedAt;
        EXPECT_EQ(MakeStateFolder(StateFolder(), failedAt), 0) << failedAt;
    }
    ~Bench() {
        MonCloseDevices(0xFFFFFFFF);
        PkgCloseAll();
    }

    // The package folder (beside the executable) and the state folder, each of
    // the bench's own.
    std::string Folder() const { return dir.File(""); }
    std::string StateFolder() const { return stateDir.File("quillon"); }
    std::string BackupPath() const { return StateFolder() + "/" + kBackupFileName; }
    // A run over the bench's folders, as the bench's user runs it.
    void UseFolders(UpdateRun& run) const {
        run.packageFolder = Folder();
        run.stateFolders = StateFolders{StateFolder(), {}};
    }
    bool BackupExists() const { return std::filesystem::exists(BackupPath()); }

    // Plugs a monitor in and gives it settings unlike the factory's, so that
    // putting them back can be seen.
    Monitor& Plug(MonitorKind kind, std::string serial = "SN000001", VersionFields firmware = kBefore) {
        return Plug(Config(kind, std::move(serial), firmware));
    }
    Monitor& Plug(const MonitorConfig& config) {
        Monitor& monitor = platform.Add(config);
        const std::uint32_t count = MonOpenDevices(kFamilyNormal);
        MonitorHandle handle = kNoMonitor;
        EXPECT_EQ(MonGetDevice(kFamilyNormal, count - 1, &handle), 0u);
        before = update_testing::GiveUnusualSettings(handle);
        MonCloseDevices(0xFFFFFFFF);
        return monitor;
    }

    // A monitor that lost its power in its update state: it waits there, dark,
    // for an update begun by a run whose record this bench may not have. Its
    // configuration, to plug in later, or plugged in at once.
    MonitorConfig WaitingConfig(MonitorKind kind, std::string serial = "SN000001") const {
        MonitorConfig config = Config(kind, std::move(serial));
        MonitorState state = Monitor(config).State();
        state.mode = MonitorMode::Update;
        config.statePath = dir.File("waiting-" + config.serial);
        std::string fault;
        EXPECT_TRUE(SaveStateFile(config.statePath, state, &fault)) << fault;
        return config;
    }
    Monitor& PlugWaiting(MonitorKind kind, std::string serial = "SN000001") {
        return platform.Add(WaitingConfig(kind, std::move(serial)));
    }

    // The configuration Plug gives a monitor of this kind.
    static MonitorConfig Config(MonitorKind kind, std::string serial = "SN000001", VersionFields firmware = kBefore) {
        MonitorConfig config;
        config.kind = kind;
        config.serial = std::move(serial);
        config.model = "QX2701";
        config.firmware = firmware;
        config.transferTime = {0, 0};
        return config;
    }

    using PackageContents = app_testing::PackageContents;

    // Writes "update.vfw" (or `name`) into the bench's folder.
    void WritePackage(const PackageContents& contents, const std::string& name = "update.vfw") {
        WritePackageFile(dir.File(name), contents);
    }
    void WritePackage() { WritePackage(PackageContents{}); }

    // A new run of the updater, as a new process starts it.
    std::unique_ptr<MainWorkflow> NewRun(ScriptedView& view) {
        auto workflow = std::make_unique<MainWorkflow>(view);
        UseFolders(workflow->Run());
        return workflow;
    }

    // Opens the monitor with this serial number as it presents itself now (any family).
    MonitorHandle Open(const std::string& serial = "SN000001") {
        for (std::uint32_t families : {kFamilyNormal, kFamilyStoppedInUpdate}) {
            const std::uint32_t count = MonOpenDevices(families);
            for (std::uint32_t i = 0; i < count; ++i) {
                MonitorHandle h = kNoMonitor;
                if (IsFailure(MonGetDevice(families, i, &h))) continue;
                std::array<char, 10> text{};
                if (!IsFailure(MonGetSerialNumber(h, text)) && serial == text.data()) return h;
            }
        }
        return kNoMonitor;
    }

    std::string VersionOf(MonitorHandle monitor) {
        std::array<char, kVersionTextBytes> text{};
        MonGetFirmwareVersion(monitor, text);
        return text.data();
    }

    VirtualClock clock{1'000'000};
    ScopedClock useClock{clock};
    ModelPlatform platform;
    ScopedHidPlatform usePlatform{platform};
    TempDir dir{BenchFolderBase()};
    TempDir stateDir{BenchFolderBase()};
    Settings before;
};

}  // namespace app_testing
