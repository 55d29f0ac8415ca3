// An update that cannot finish must not strand the monitor. A package that
// has nothing to write for it ends the run before the monitor is taken into its
// update state, as a package that does not fit ends it: the monitor runs its
// firmware with the boot selector 0 and its settings as they were, the lock is
// released and no backup file is left. A monitor without setting B8 and switch F0
// is updated to the end. A second start does not repeat the fault. Every check
// reads the emulated monitor's own state.
#include "app/app_testing.h"

namespace {

using namespace app_testing;

// A set with only the list of settings.
Bench::PackageContents WithoutFirmware() {
    Bench::PackageContents c;
    c.types = {};
    return c;
}

// The package's version differs from the monitor's only in field 1 (PRG000),
// and the set does not carry PRG000: nothing the set carries needs writing.
Bench::PackageContents NothingToWrite() {
    Bench::PackageContents c;
    c.version = MemoryText({103, 201, 3, 4, 5});
    c.images = kBefore;
    c.types = {3, 1, 4, 5};
    return c;
}

struct UnfinishableCase {
    const char* name;
    MonitorKind kind;
    bool settingB8AndSwitchF0;
    Bench::PackageContents contents;
    bool completes;  // false: the package cannot update the monitor
};

const UnfinishableCase kUnfinishableCases[] = {
    {"OlderNativeSetWithoutFirmware", MonitorKind::OlderNative, true, WithoutFirmware(), false},
    {"OlderTunnelSetWithoutFirmware", MonitorKind::OlderTunnel, true, WithoutFirmware(), false},
    {"CombinedSetWithoutFirmware", MonitorKind::CombinedTunnel, true, WithoutFirmware(), false},
    {"CombinedNothingToWrite", MonitorKind::CombinedTunnel, true, NothingToWrite(), false},
    {"OlderNativeWithoutB8AndF0", MonitorKind::OlderNative, false, {}, true},
    {"OlderTunnelWithoutB8AndF0", MonitorKind::OlderTunnel, false, {}, true},
};

class UnfinishableUpdateTest : public ::testing::TestWithParam<UnfinishableCase> {
protected:
    Bench bench;
};
INSTANTIATE_TEST_SUITE_P(Cases, UnfinishableUpdateTest, ::testing::ValuesIn(kUnfinishableCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(UnfinishableUpdateTest, LeavesTheMonitorRunningAndASecondStartDoesNotRepeatTheFault) {
    const UnfinishableCase& c = GetParam();
    MonitorConfig config = Bench::Config(c.kind);
    config.settingB8AndSwitchF0 = c.settingB8AndSwitchF0;
    Monitor& monitor = bench.Plug(config);
    bench.WritePackage(c.contents);
    const VersionFields expected = c.completes ? kAfter : kBefore;
    // The second start finds the package applied, or again unable to update.
    const std::vector<std::vector<TextId>> messages{
        {c.completes ? text_id::kComplete : text_id::kCannotUpdateWithFile},
        {c.completes ? text_id::kAlreadyApplied : text_id::kCannotUpdateWithFile}};

    for (std::size_t start = 0; start < messages.size(); ++start) {
        SCOPED_TRACE(start == 0 ? "first start" : "second start");
        const std::uint32_t bootsBefore = monitor.Boots();
        ScriptedView view;
        auto run = bench.NewRun(view);
        RunToEnd(*run, view);
        if (!run->Ended()) run->Close();

        EXPECT_EQ(view.MessageIds(), messages[start]);
        EXPECT_EQ(run->Run().retryCount, 0u);  // restarting an update that cannot finish changes nothing
        EXPECT_EQ(monitor.Mode(), MonitorMode::Running);
        EXPECT_EQ(monitor.State().bootSelector, 0);
        EXPECT_EQ(monitor.RunningVersion(), expected);
        EXPECT_FALSE(monitor.LockHeld());
        EXPECT_FALSE(bench.BackupExists());
        // Only a completing update restarts the monitor, into the new firmware.
        if (!c.completes || start > 0) {
            EXPECT_EQ(monitor.Boots(), bootsBefore);
        }
        EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
        MonCloseDevices(0xFFFFFFFF);
    }
}

}  // namespace
