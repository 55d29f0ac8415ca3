#include "update/combined_packet_update.h"

#include <string>
#include <vector>

#include "monitor/component_transfer.h"
#include "update/stop_at_stage_testing.h"
#include "update/update_fixture_testing.h"
#include "update/update_status.h"

namespace {

using namespace update_testing;
namespace cu = command_usage;

constexpr bool kWrite = true;

// The writes that move the monitor through the update, in the order it took
// them: "B1"/"B0" the boot selector, "G5" five component announcements in a
// row, "R" a restart, "I2" two listed settings stored again.
std::string WriteTrace(const std::vector<Call>& calls) {
    std::vector<std::string> tokens;
    std::vector<int> runs;
    for (const Call& c : calls) {
        std::string token;
        if (Is(c, kWrite, cu::kBootSelector)) token = "B" + std::to_string(c.firstByte);
        else if (Is(c, kWrite, cu::kGeometry)) token = "G";
        else if (Is(c, kWrite, cu::kRestart)) token = "R";
        else if (Is(c, kWrite, cu::kIndexValue)) token = "I";
        else continue;
        const bool counted = token == "G" || token == "I";
        if (counted && !tokens.empty() && tokens.back() == token) {
            ++runs.back();
            continue;
        }
        tokens.push_back(token);
        runs.push_back(counted ? 1 : 0);
    }
    std::string trace;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (!trace.empty()) trace += ' ';
        trace += tokens[i] + (runs[i] > 0 ? std::to_string(runs[i]) : "");
    }
    return trace;
}

class CombinedPacketUpdateTest : public UpdateFixture {
protected:
    MonitorHandle Plug(FaultPlan faults = {}, VersionFields firmware = kBefore) {
        return UpdateFixture::Plug(MonitorKind::CombinedTunnel, faults, firmware);
    }
    int Announced() { return Count(LoggedCalls(), kWrite, cu::kGeometry); }
    int Restarts() { return Count(LoggedCalls(), kWrite, cu::kRestart); }
};

TEST_F(CombinedPacketUpdateTest, FreshUpdateWritesThePackageWithOneRestart) {
    Plug();
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    log.records.clear();
    clock.ClearWaits();

    ASSERT_EQ(RunCombinedPacketUpdate(update, handle, package, record), 0u);

    // The update ends holding the monitor's present handle: its restart gave it a new one.
    EXPECT_NE(update.monitor, handle);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(update.monitor), before);
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(WriteTrace(LoggedCalls()), "B1 B1 G5 B0 R I2");
    EXPECT_EQ(StageInFile(), kStageDone);
    // Each component's checksum takes 1.5 s: two polls a second apart; then the
    // restart, and setting B8 off and on after the listed settings.
    std::vector<std::uint32_t> expected(10, 1000);
    expected.insert(expected.end(), {15000, 1000, 10000});
    EXPECT_EQ(LongWaits(), expected);
}

struct ChangedCase {
    const char* name;
    VersionFields monitor;
    VersionFields package;
    int written;
};

const ChangedCase kChangedCases[] = {
    {"EveryFieldDiffers", kBefore, kAfter, 5},
    {"TwoFieldsEqual", kBefore, {102, 201, 4, 5, 26}, 3},
    // "00000" on both sides says nothing about what the monitor holds.
    {"WildcardOnBothSides", {102, 201, 0, 4, 5}, {102, 201, 0, 4, 5}, 1},
};

void PrintTo(const ChangedCase& cc, std::ostream* os) { *os << cc.name; }

class CombinedPacketChangedTest : public CombinedPacketUpdateTest, public ::testing::WithParamInterface<ChangedCase> {};

TEST_P(CombinedPacketChangedTest, OnlyComponentsWhoseVersionDiffersAreWritten) {
    const ChangedCase& cc = GetParam();
    Plug({}, cc.monitor);
    const PackageHandle package = MakePackage({.images = cc.package, .version = MemoryText(cc.package)});
    const PackageHandle record = MakeRecord();
    log.records.clear();
    ASSERT_EQ(RunCombinedPacketUpdate(update, handle, package, record), 0u);
    EXPECT_EQ(Announced(), cc.written);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(cc.package));
}

INSTANTIATE_TEST_SUITE_P(Versions, CombinedPacketChangedTest, ::testing::ValuesIn(kChangedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CombinedPacketUpdateTest, WithoutAPackageTheRecordStaysNew) {
    Plug();
    MakePackage();
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunCombinedPacketUpdate(update, handle, kNoPackageHandle, record), kUpdBadArgument);
    EXPECT_EQ(StageInFile(), kStageNew);
}

// With nothing to write the package cannot update the monitor: the update
// stops before the boot selector is written, so the monitor goes on running.
TEST_F(CombinedPacketUpdateTest, APackageTheMonitorHasAlreadyStopsBeforeTheBootSelector) {
    Plug();
    const PackageHandle package = MakePackage({.images = kBefore, .version = MemoryText(kBefore)});
    const PackageHandle record = MakeRecord();
    log.records.clear();
    EXPECT_EQ(RunCombinedPacketUpdate(update, handle, package, record), kPkgNoMatchingSet);
    EXPECT_EQ(Announced(), 0);
    EXPECT_EQ(Count(LoggedCalls(), kWrite, cu::kBootSelector), 0);
    EXPECT_EQ(StageInFile(), kStageNew);
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(monitor->State().bootSelector, 0);
}

TEST_F(CombinedPacketUpdateTest, AVersionThatStillDiffersAfterTheExtraRestartFails) {
    Plug();
    VersionFields images = kAfter;
    images[1] = 7;
    const PackageHandle package = MakePackage({.images = images});
    const PackageHandle record = MakeRecord();
    log.records.clear();
    clock.ClearWaits();
    EXPECT_EQ(RunCombinedPacketUpdate(update, handle, package, record), kUpdVersionMismatch);
    EXPECT_EQ(Restarts(), 2);
    EXPECT_EQ(LongWaits().back(), 15000u);
    EXPECT_EQ(StageInFile(), kStageSettingsStored);
}

TEST_F(CombinedPacketUpdateTest, AChecksumThatDiffersFailsTheWriting) {
    Plug({.wrongCrcs = 1});
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    EXPECT_EQ(RunCombinedPacketUpdate(update, handle, package, record), kMonVerifyMismatch);
    EXPECT_EQ(StageInFile(), kStageWriting);
}

TEST_F(CombinedPacketUpdateTest, AMonitorThatDoesNotComeBackIsAwaitedAnHour) {
    Plug({.noReturn = true});
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    clock.ClearWaits();
    EXPECT_EQ(RunCombinedPacketUpdate(update, handle, package, record), kUpdFailed);
    EXPECT_EQ(update.monitor, kNoMonitor);
    std::vector<std::uint32_t> waits = LongWaits();
    EXPECT_EQ(std::count(waits.begin(), waits.end(), 15000u), 240);
    EXPECT_EQ(waits.back(), 15000u);
    EXPECT_EQ(StageInFile(), kStageWritten);
}

// Every stage change reaches the backup file before the update goes on: a
// fresh update stopped at the next step leaves the file at that stage, so a
// later start resumes there and not at the stage before.
struct StopCase {
    std::int32_t stage;  // the run is stopped at the first step once the update holds it
    StopBy by;
    std::int32_t inFile;
    const char* nextStep;
};

void PrintTo(const StopCase& sc, std::ostream* os) { *os << sc.stage << " (" << sc.nextStep << ")"; }

const StopCase kStopCases[] = {
    {kStagePrepared, StopBy::LosingTheMonitor, kStagePrepared, "the boot selector 1"},
    {kStageWriting, StopBy::LosingTheMonitor, kStageWriting, "writing the components"},
    {kStageWritten, StopBy::LosingTheMonitor, kStageWritten, "the restart into the new firmware"},
    // 500 is followed at once by 550, with no step between: the run can stop
    // there only when a save fails. The restart's save failing keeps 400 in
    // memory too; a 500 kept only in memory would be left there by 550's.
    {kStageWritten, StopBy::FailingSaves, kStageWritten, "the saves of 500 and 550"},
    {kStageChecked, StopBy::LosingTheMonitor, kStageChecked, "storing the listed settings again"},
    {kStageSettingsStored, StopBy::LosingTheMonitor, kStageSettingsStored, "the final check"},
};

class CombinedPacketStopTest : public CombinedPacketUpdateTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CombinedPacketStopTest, TheFileHoldsTheStageReachedWhenTheNextStepFails) {
    const StopCase& sc = GetParam();
    Plug();
    const PackageHandle package = MakePackage();
    const PackageHandle record = MakeRecord();
    StopAtStage stop(update, sc.stage, sc.by, [this] { platform.Unplug(*monitor); });
    update.progress = &stop;

    EXPECT_TRUE(IsFailure(RunCombinedPacketUpdate(update, handle, package, record)));
    stop.AllowSaves();

    ASSERT_TRUE(stop.Stopped());
    if (sc.by == StopBy::FailingSaves) {
        EXPECT_NE(update.monitor, kNoMonitor) << "the restart failed, not a save";
    }
    EXPECT_EQ(update.stage, sc.inFile);
    EXPECT_EQ(StageInFile(), sc.inFile);
}

INSTANTIATE_TEST_SUITE_P(Stages, CombinedPacketStopTest, ::testing::ValuesIn(kStopCases), [](const auto& info) {
    const StopCase& sc = info.param;
    return "Stage" + std::to_string(sc.stage) + (sc.by == StopBy::FailingSaves ? "_SavesFail" : "_MonitorLost");
});

struct ResumeCase {
    std::int32_t stage;
    std::uint32_t loaderFlag;
    // Boot selector 1 unless stopped in an update (loader flag 1), again before
    // the components; boot selector 0 with the restart; then the listed settings.
    const char* writes;
};

void PrintTo(const ResumeCase& rc, std::ostream* os) { *os << rc.stage << "/" << rc.loaderFlag; }

const ResumeCase kResumeCases[] = {
    {100, 0, "B1 B1 G5 B0 R I2"}, {100, 1, "B1 G5 B0 R I2"},
    {200, 0, "B1 B1 G5 B0 R I2"}, {200, 1, "B1 G5 B0 R I2"},
    {300, 0, "B1 B1 G5 B0 R I2"}, {300, 1, "B1 G5 B0 R I2"},
    {400, 0, "B1 B0 R I2"},       {400, 1, "B0 R I2"},
    {500, 0, "I2"},               {500, 1, "I2"},
    {550, 0, "I2"},               {550, 1, "I2"},
    {600, 0, ""},                 {600, 1, ""},
};

class CombinedPacketResumeTest : public CombinedPacketUpdateTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(CombinedPacketResumeTest, EachStageRunsItsStepsAndCompletes) {
    const ResumeCase& rc = GetParam();
    Plug();
    const PackageHandle package = MakePackage();
    const PackageHandle record = RecordInStage(rc.stage, rc.loaderFlag, package);
    const PackageHandle given = rc.stage == kStageNew ? package : kNoPackageHandle;

    ASSERT_EQ(RunCombinedPacketUpdate(update, handle, given, record), 0u);

    EXPECT_EQ(WriteTrace(LoggedCalls()), rc.writes);
    EXPECT_EQ(MonitorVersion(update.monitor), MemoryText(kAfter));
    EXPECT_EQ(StageInFile(), kStageDone);
    EXPECT_EQ(monitor->Mode(), MonitorMode::Running);
    EXPECT_EQ(monitor->State().bootSelector, 0);
}

INSTANTIATE_TEST_SUITE_P(Stages, CombinedPacketResumeTest, ::testing::ValuesIn(kResumeCases), [](const auto& info) {
    return "Stage" + std::to_string(info.param.stage) + "_Loader" + std::to_string(info.param.loaderFlag);
});

}  // namespace
