#include "update/older_monitor_update.h"

#include <algorithm>
#include <functional>
#include <limits>

#include "monitor/command_status.h"
#include "monitor/component_transfer.h"
#include "update/stop_at_stage_testing.h"
#include "update/update_fixture_testing.h"
#include "update/update_status.h"

namespace {

using namespace update_testing;
namespace cu = command_usage;

constexpr bool kRead = false, kWrite = true;

class OlderMonitorUpdateTest : public UpdateFixture, public ::testing::WithParamInterface<MonitorKind> {};

// The steps whose traces the monitor's log shows, as digits "1" to "9" in the
// order the monitor saw them. A step shows only when its transfers came in its
// own order (step 3: boot selector 1, restart, boot selector 1, then the first
// component), so a step done out of order, or missing one of its writes, or a
// step run before another, changes the string.
std::string StepsSeen(const std::vector<Call>& calls) {
    using Match = std::function<bool(const Call&)>;
    const auto write = [](MonUsage u) -> Match { return [u](const Call& c) { return Is(c, kWrite, u); }; };
    const auto writeOf = [](MonUsage u, std::uint8_t v) -> Match {
        return [u, v](const Call& c) { return Is(c, kWrite, u) && c.firstByte == v; };
    };
    const Match restart = write(cu::kRestart), geometry = write(cu::kGeometry), selector = write(cu::kBootSelector);
    const Match packetRead = [](const Call& c) { return Is(c, kRead, cu::kPacket); };
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    // The first call from `from` on that matches; kNone when there is none.
    const auto first = [&](std::size_t from, const Match& m) {
        for (std::size_t i = from; i < calls.size(); ++i)
            if (m(calls[i])) return i;
        return kNone;
    };
    // The last call before `before` that matches.
    const auto last = [&](std::size_t before, const Match& m) {
        for (std::size_t i = std::min(before, calls.size()); i-- > 0;)
            if (m(calls[i])) return i;
        return kNone;
    };
    const auto selectorIs = [&](std::size_t i, std::uint8_t v) { return i != kNone && calls[i].firstByte == v; };
    const auto after = [](std::size_t i) { return i == kNone ? kNone : i + 1; };

    std::vector<std::pair<std::size_t, char>> seen;
    const auto see = [&](std::size_t at, char step) {
        if (at != kNone) seen.emplace_back(at, step);
    };
    // 1: the settings are saved.
    see(first(0, [](const Call& c) { return Is(c, kRead, cu::kSetting53); }), '1');
    // 2: switch F0 off, boot selector 1, restart into the update state.
    const std::size_t switchOff = first(0, writeOf(cu::kSwitchF0, 0));
    if (first(after(first(after(switchOff), writeOf(cu::kBootSelector, 1))), restart) != kNone) see(switchOff, '2');
    // 3, 4: boot selector 1, restart, boot selector 1, then the components.
    const std::size_t firstComponent = first(0, geometry);
    const std::size_t lastComponent = last(calls.size(), geometry);
    if (firstComponent != kNone) {
        const std::size_t restartBefore = last(firstComponent, restart);
        const std::size_t selectorBetween = last(firstComponent, selector);
        if (restartBefore != kNone && selectorIs(last(restartBefore, selector), 1) && selectorIs(selectorBetween, 1) &&
            selectorBetween > restartBefore)
            see(restartBefore, '3');
        see(firstComponent, '4');
        // 5: boot selector 0 once the components are written.
        const std::size_t selectorAfter = first(lastComponent, selector);
        if (selectorIs(selectorAfter, 0)) see(selectorAfter, '5');
    }
    // 6: the restart into the new firmware, with the boot selector 0 before it.
    const std::size_t from = lastComponent == kNone ? 0 : lastComponent;
    for (std::size_t r = first(from, restart); r != kNone; r = first(r + 1, restart)) {
        if (selectorIs(last(r, selector), 0)) {
            see(r, '6');
            break;
        }
    }
    // 7: packets read back after the last restart.
    const std::size_t lastRestart = last(calls.size(), restart);
    see(first(lastRestart == kNone ? 0 : lastRestart, packetRead), '7');
    // 8: the two listed settings stored again.
    if (Count(calls, kWrite, cu::kIndexValue) == 2) see(first(0, write(cu::kIndexValue)), '8');
    // 9: the completion command, then switch F0 back on.
    const std::size_t completion = first(0, write(cu::kCompletion));
    if (Count(calls, kWrite, cu::kCompletion) == 1 && first(after(completion), writeOf(cu::kSwitchF0, 1)) != kNone)
        see(completion, '9');

    std::sort(seen.begin(), seen.end());
    std::string steps;
    for (const auto& [at, step] : seen) steps += step;
    return steps;
}

TEST_P(OlderMonitorUpdateTest, FreshUpdateWritesThePackageAndPutsTheSettingsBack) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    log.records.clear();
    clock.ClearWaits();

    ASSERT_EQ(RunOlderMonitorUpdate(update, handle, package, record), 0u);

    EXPECT_EQ(update.stage, kStageDone);
    // The update ends holding the monitor's present handle: each restart gave it a new one.
    EXPECT_NE(update.monitor, handle);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(update.monitor), before);
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    // Indexed settings 5 and 9 were stored again; the odd last byte of the list is no item.
    EXPECT_EQ(StepsSeen(LoggedCalls()), "123456789");
    EXPECT_EQ(StageInFile(), kStageDone);
}

TEST_P(OlderMonitorUpdateTest, FreshUpdateMakesThePrescribedWaits) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    clock.ClearWaits();
    ASSERT_EQ(RunOlderMonitorUpdate(update, handle, package, record), 0u);
    // The monitor's setting B8 is off before the update (GiveUnusualSettings).
    const std::vector<std::uint32_t> expected{
        30000,        // step 2: the monitor restarts into its update state
        1000, 10000,  // found again with B8 off: switched off and on
        1000, 10000,  // setting B8 off and on while the settings are neutralised
        15000,        // step 3: the restart before writing
        15000,        // step 6: the restart into the new firmware
        1000, 10000,  // step 8: setting B8 off and on after the listed settings
        1000, 1000, 1000,  // step 9: the completion command works for 3 s
        1000,         // step 9: setting B8 put back off
    };
    EXPECT_EQ(LongWaits(), expected);
}

TEST_P(OlderMonitorUpdateTest, WithoutAPackageTheRecordStaysNew) {
    Plug(GetParam());
    MakePackage();
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, kNoPackageHandle, record), kUpdBadArgument);
    EXPECT_EQ(RunOlderMonitorUpdate(update, kNoMonitor, kNoPackageHandle, record), kUpdBadArgument);
    EXPECT_EQ(update.monitor, handle);  // a refused call leaves the update's monitor as it was
    EXPECT_EQ(StageInFile(), kStageNew);
}

// Without firmware the package cannot update the monitor: the update stops
// before it restarts the monitor into its update state.
TEST_P(OlderMonitorUpdateTest, APackageWithNoComponentStopsBeforeAnyRestart) {
    Plug(GetParam());
    const PackageHandle package = MakePackage({.types = {}, .readBack = {}});
    const PackageHandle record = MakeRecord();
    log.records.clear();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kPkgNoMatchingSet);
    EXPECT_EQ(StageInFile(), kStageNew);
    EXPECT_EQ(Count(LoggedCalls(), kWrite, cu::kRestart), 0);
    EXPECT_EQ(Count(LoggedCalls(), kWrite, cu::kBootSelector), 0);
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(kBefore));
}

TEST_P(OlderMonitorUpdateTest, AVersionThatStillDiffersAfterTheExtraRestartFails) {
    Plug(GetParam());
    // The images carry the old PRG000 field while the package names the new one.
    VersionFields images = kAfter;
    images[0] = kBefore[0];
    const PackageHandle package = MakePackage({.images = images});
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kUpdVersionMismatch);
    EXPECT_EQ(StageInFile(), kStageSettingsStored);
    // Step 9 restarted the monitor once more and waited for it, 15 s at a time.
    const std::vector<std::uint32_t> waits = LongWaits();
    ASSERT_GE(waits.size(), 1u);
    EXPECT_EQ(waits.back(), 15000u);
    EXPECT_EQ(Count(LoggedCalls(), true, cu::kRestart), 4);
}

TEST_P(OlderMonitorUpdateTest, AWildcardFieldOfTheTargetIsNotChecked) {
    Plug(GetParam());
    VersionFields images = kAfter;
    images[0] = kBefore[0];
    std::string version = MemoryText(kAfter);
    version.replace(0, 5, "00000");
    const PackageHandle package = MakePackage({.images = images, .version = version});
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), 0u);
    EXPECT_EQ(Count(LoggedCalls(), true, cu::kRestart), 3);  // no extra restart in step 9
}

TEST_P(OlderMonitorUpdateTest, AComponentStoredWronglyFailsItsCheck) {
    Plug(GetParam(), {.corruptWrites = 1});
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kMonVerifyMismatch);
    EXPECT_EQ(StageInFile(), kStageWriting);
}

TEST_P(OlderMonitorUpdateTest, AMonitorThatDoesNotComeBackIsSoughtFourTimes) {
    Plug(GetParam(), {.noReturn = true});
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    clock.ClearWaits();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kUpdFailed);
    EXPECT_EQ(update.monitor, kNoMonitor);
    EXPECT_EQ(LongWaits(), std::vector<std::uint32_t>(4, 30000));
    EXPECT_EQ(StageInFile(), kStagePrepared);
}

TEST_P(OlderMonitorUpdateTest, AMonitorThatDoesNotComeBackIntoItsNewFirmwareIsAwaitedAnHour) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = RecordInStage(kStageWritten, 1, package);
    monitor->AddFaults({.noReturn = true});
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, kNoPackageHandle, record), kUpdFailed);
    EXPECT_EQ(LongWaits(), std::vector<std::uint32_t>(240, 15000));
    EXPECT_EQ(StageInFile(), kStageWritten);
}

TEST_P(OlderMonitorUpdateTest, ACalibratingMonitorRefusesTheLock) {
    Plug(GetParam(), {.calibratingReads = FaultPlan::kAlways});
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kMonLockRefused);
    EXPECT_EQ(StageInFile(), kStageWriting);
    EXPECT_EQ(Count(LoggedCalls(), true, cu::kGeometry), 0);  // nothing written
}

TEST_P(OlderMonitorUpdateTest, AFinishedUpdateDoesNothing) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = RecordInStage(kStageDone, 0, package);
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, kNoPackageHandle, record), 0u);
    EXPECT_TRUE(log.records.empty());
}

TEST_P(OlderMonitorUpdateTest, AnUnwritableBackupFileStopsTheUpdateBeforeTheMonitorIsTouched) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    update.backupPath = dir.File("missing/.backup");
    log.records.clear();
    EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kPkgCannotOpen);
    EXPECT_EQ(Count(LoggedCalls(), true, cu::kRestart), 0);
}

TEST_P(OlderMonitorUpdateTest, ASettingTheRecordCannotHoldStopsTheUpdateAtItsStage) {
    Plug(GetParam());
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    // Above what the record accepts; no write gives it, a monitor may hold it.
    std::vector<std::uint8_t> block(64);
    block[0] = 7;
    monitor->HoldSetting({0xFF03, 0x0022}, block);
    log.records.clear();
    for (int run = 0; run < 2; ++run) {  // a retry starts from the same stage
        EXPECT_EQ(RunOlderMonitorUpdate(update, handle, package, record), kPkgInvalid);
        EXPECT_EQ(update.stage, kStageNew);
    }
    EXPECT_EQ(Count(LoggedCalls(), true, cu::kRestart), 0);
    EXPECT_EQ(StageInFile(), kStageNew);
}

// Every stage change reaches the backup file before the update goes on: a
// fresh update that loses the monitor at the next step leaves the file at that
// stage, so a later start resumes there and not at the stage before (which,
// from 400 on, would write every component again).
struct StopCase {
    std::int32_t stage;
    const char* nextStep;  // where the monitor is lost
};

void PrintTo(const StopCase& sc, std::ostream* os) { *os << sc.stage << " (" << sc.nextStep << ")"; }

const StopCase kStopCases[] = {
    {kStagePrepared, "entering the update state"},
    {kStageWriting, "the restart before writing"},
    {kStageWritten, "the restart into the new firmware"},
    {kStageRestarted, "reading components back"},
    {kStageChecked, "storing the listed settings again"},
    {kStageSettingsStored, "the final check"},
};

class OlderMonitorStopTest : public UpdateFixture,
                             public ::testing::WithParamInterface<std::tuple<MonitorKind, StopCase>> {};

TEST_P(OlderMonitorStopTest, TheFileHoldsTheStageReachedWhenTheNextStepLosesTheMonitor) {
    const auto& [kind, sc] = GetParam();
    Plug(kind);
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    StopAtStage stop(update, sc.stage, StopBy::LosingTheMonitor, [this] { platform.Unplug(*monitor); });
    update.progress = &stop;

    EXPECT_TRUE(IsFailure(RunOlderMonitorUpdate(update, handle, package, record)));

    ASSERT_TRUE(stop.Stopped());
    EXPECT_EQ(update.stage, sc.stage);
    EXPECT_EQ(StageInFile(), sc.stage);
}

struct ResumeCase {
    std::int32_t stage;
    std::uint32_t loaderFlag;
    const char* steps;  // the steps that act
};

const ResumeCase kResumeCases[] = {
    {100, 0, "123456789"}, {100, 1, "13456789"},
    {200, 0, "23456789"},  {200, 1, "3456789"},
    {300, 0, "23456789"},  {300, 1, "3456789"},
    {400, 0, "26789"},     {400, 1, "6789"},
    {500, 0, "789"},       {500, 1, "789"},
    {550, 0, "89"},        {550, 1, "89"},
    {600, 0, "9"},         {600, 1, "9"},
};

void PrintTo(const ResumeCase& rc, std::ostream* os) { *os << rc.stage << "/" << rc.loaderFlag; }

class OlderMonitorResumeTest : public UpdateFixture,
                            public ::testing::WithParamInterface<std::tuple<MonitorKind, ResumeCase>> {};

TEST_P(OlderMonitorResumeTest, EachStageRunsItsStepsAndCompletes) {
    const auto& [kind, rc] = GetParam();
    Plug(kind);
    const PackageHandle package = MakePackage();
    const PackageHandle record = RecordInStage(rc.stage, rc.loaderFlag, package);
    // A resumed run gets no package: the record holds what it needs.
    const PackageHandle given = rc.stage == kStageNew ? package : kNoPackageHandle;

    ASSERT_EQ(RunOlderMonitorUpdate(update, handle, given, record), 0u);

    EXPECT_EQ(StepsSeen(LoggedCalls()), rc.steps);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(update.monitor), before);
    EXPECT_EQ(StageInFile(), kStageDone);
    // Running its firmware, and still running it after its next restart.
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(monitor->State().bootSelector, 0);
}

std::string ResumeName(const ::testing::TestParamInfo<std::tuple<MonitorKind, ResumeCase>>& info) {
    const auto& [kind, rc] = info.param;
    return std::string(KindName(kind)) + "_Stage" + std::to_string(rc.stage) + "_Loader" + std::to_string(rc.loaderFlag);
}

std::string StopName(const ::testing::TestParamInfo<std::tuple<MonitorKind, StopCase>>& info) {
    const auto& [kind, sc] = info.param;
    return std::string(KindName(kind)) + "_Stage" + std::to_string(sc.stage);
}

INSTANTIATE_TEST_SUITE_P(OlderKinds, OlderMonitorUpdateTest,
                         ::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel), KindTestName);
INSTANTIATE_TEST_SUITE_P(OlderKinds, OlderMonitorStopTest,
                         ::testing::Combine(::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel),
                                            ::testing::ValuesIn(kStopCases)),
                         StopName);
INSTANTIATE_TEST_SUITE_P(OlderKinds, OlderMonitorResumeTest,
                         ::testing::Combine(::testing::Values(MonitorKind::OlderNative, MonitorKind::OlderTunnel),
                                            ::testing::ValuesIn(kResumeCases)),
                         ResumeName);

}  // namespace
