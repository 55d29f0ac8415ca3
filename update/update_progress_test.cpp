// What both update sequences tell their progress: one plan per run, made from
// the record's stage, the steps that plan leaves to do entered in its order,
// every byte moved, and waits whose announced lengths are the waits made.
#include <algorithm>

#include "update/combined_packet_update.h"
#include "update/older_monitor_update.h"
#include "update/update_fixture_testing.h"

namespace {

using namespace update_testing;

// Records every report, with the clock's waits made within each reported wait.
class RecordingProgress final : public UpdateProgress {
public:
    explicit RecordingProgress(VirtualClock& clock) : clock_(clock) {}

    struct Entered {
        UpdateStep step;
        std::uint32_t component, components;
        std::uint64_t doneBytes = 0, totalBytes = 0;
        bool bytesWentBack = false;
    };
    struct Wait {
        std::size_t step;  // index into entered
        std::uint32_t expectedMs, longestMs;
        std::vector<std::uint32_t> sleeps;
        std::uint64_t elapsedMs = 0;
    };

    std::vector<std::vector<PlannedStep>> plans;
    std::size_t stepsBeforePlan = 0;
    std::vector<Entered> entered;
    std::vector<Wait> waits;
    bool unpaired = false;  // a wait begun inside another, ended without beginning, or left open

    void Plan(const std::vector<PlannedStep>& steps) override { plans.push_back(steps); }
    void EnterStep(UpdateStep step, std::uint32_t component, std::uint32_t components) override {
        if (plans.empty()) ++stepsBeforePlan;
        unpaired = unpaired || waiting_;
        entered.push_back({step, component, components});
    }
    void TransferProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) override {
        if (entered.empty()) return;
        Entered& e = entered.back();
        e.bytesWentBack = e.bytesWentBack || doneBytes < e.doneBytes;
        e.doneBytes = doneBytes;
        e.totalBytes = totalBytes;
    }
    void WaitBegins(std::uint32_t expectedMs, std::uint32_t longestMs) override {
        unpaired = unpaired || waiting_;
        waiting_ = true;
        sleepsBefore_ = clock_.Waits().size();
        beganMs_ = clock_.NowMs();
        waits.push_back({entered.size() - 1, expectedMs, longestMs, {}});
    }
    void WaitEnds() override {
        unpaired = unpaired || !waiting_;
        waiting_ = false;
        const std::vector<std::uint32_t> all = clock_.Waits();
        waits.back().sleeps.assign(all.begin() + static_cast<std::ptrdiff_t>(sleepsBefore_), all.end());
        waits.back().elapsedMs = clock_.NowMs() - beganMs_;
    }
    bool Waiting() const { return waiting_; }

private:
    VirtualClock& clock_;
    bool waiting_ = false;
    std::size_t sleepsBefore_ = 0;
    std::uint64_t beganMs_ = 0;
};

// The waits of a second or more: shorter ones are the monitor layer's own
// pauses (the start-up delay of every reopening).
std::vector<std::uint32_t> Long(std::vector<std::uint32_t> sleeps) {
    std::erase_if(sleeps, [](std::uint32_t ms) { return ms < 1000; });
    return sleeps;
}

// A plan as letters, lower case for the steps done: P preparing, E entering
// the update state, R restarting, W writing, V verifying, S restoring the
// settings, F finishing.
std::string PlanText(const std::vector<PlannedStep>& plan) {
    std::string text;
    for (const PlannedStep& s : plan) {
        const char letter = "PEWVRSF"[static_cast<int>(s.step)];
        text += s.done ? static_cast<char>(letter - 'A' + 'a') : letter;
    }
    return text;
}

struct PlanCase {
    MonitorKind kind;
    std::int32_t stage;
    std::uint32_t loaderFlag;
    const char* plan;
};

// Five components, of which PRG001 and AIC904 are read back after the restart
// on the older monitors; the combined-packet monitor checks each by its checksum.
const PlanCase kPlanCases[] = {
    {MonitorKind::OlderNative, kStageNew, 0, "PERWWWWWRVVSF"},
    {MonitorKind::OlderNative, kStagePrepared, 0, "pERWWWWWRVVSF"},
    // A resumed writing enters the update state and writes every component again.
    {MonitorKind::OlderNative, kStageWriting, 0, "pERWWWWWRVVSF"},
    {MonitorKind::OlderNative, kStageWritten, 0, "pErwwwwwRVVSF"},
    {MonitorKind::OlderNative, kStageRestarted, 0, "perwwwwwrVVSF"},
    {MonitorKind::OlderNative, kStageChecked, 0, "perwwwwwrvvSF"},
    {MonitorKind::OlderNative, kStageSettingsStored, 0, "perwwwwwrvvsF"},
    {MonitorKind::OlderTunnel, kStageNew, 0, "PERWWWWWRVVSF"},
    {MonitorKind::OlderTunnel, kStageWritten, 1, "pErwwwwwRVVSF"},
    {MonitorKind::OlderTunnel, kStageChecked, 0, "perwwwwwrvvSF"},
    {MonitorKind::CombinedTunnel, kStageNew, 0, "PEWWWWWRSF"},
    {MonitorKind::CombinedTunnel, kStagePrepared, 0, "pEWWWWWRSF"},
    {MonitorKind::CombinedTunnel, kStageWriting, 0, "pEWWWWWRSF"},
    // A monitor stopped in an update takes components without being switched.
    {MonitorKind::CombinedTunnel, kStageWriting, 1, "peWWWWWRSF"},
    {MonitorKind::CombinedTunnel, kStageWritten, 0, "pEwwwwwRSF"},
    {MonitorKind::CombinedTunnel, kStageRestarted, 0, "pewwwwwrSF"},
    {MonitorKind::CombinedTunnel, kStageChecked, 0, "pewwwwwrSF"},
    {MonitorKind::CombinedTunnel, kStageSettingsStored, 0, "pewwwwwrsF"},
};

class UpdateProgressTest : public UpdateFixture, public ::testing::WithParamInterface<PlanCase> {
protected:
    RecordingProgress progress{clock};
};

TEST_P(UpdateProgressTest, PlansFromTheStageAndReportsWhatItDoes) {
    const PlanCase& pc = GetParam();
    Plug(pc.kind);
    const PackageHandle package = MakePackage();
    const PackageHandle record = RecordInStage(pc.stage, pc.loaderFlag, package);
    const PackageHandle given = pc.stage == kStageNew ? package : kNoPackageHandle;
    clock.ClearWaits();  // the fixture's own, while it set the monitor up
    update.progress = &progress;
    const Status status = pc.kind == MonitorKind::CombinedTunnel
                              ? RunCombinedPacketUpdate(update, handle, given, record)
                              : RunOlderMonitorUpdate(update, handle, given, record);
    ASSERT_EQ(status, 0u);

    // One plan, before the first step.
    ASSERT_EQ(progress.plans.size(), 1u);
    EXPECT_EQ(progress.stepsBeforePlan, 0u);
    const std::vector<PlannedStep>& plan = progress.plans[0];
    EXPECT_EQ(PlanText(plan), pc.plan);

    // The steps entered are the planned ones left to do, in order, each
    // component step moving all its planned bytes and never going back.
    std::vector<PlannedStep> toDo;
    for (const PlannedStep& s : plan)
        if (!s.done) toDo.push_back(s);
    ASSERT_EQ(progress.entered.size(), toDo.size());
    for (std::size_t i = 0; i < toDo.size(); ++i) {
        const RecordingProgress::Entered& e = progress.entered[i];
        EXPECT_EQ(e.step, toDo[i].step) << i;
        EXPECT_EQ(e.component, toDo[i].component) << i;
        if (toDo[i].component != 0) {
            EXPECT_GT(toDo[i].bytes, 0u) << i;
            EXPECT_EQ(e.totalBytes, toDo[i].bytes) << i;
            EXPECT_EQ(e.doneBytes, toDo[i].bytes) << i;
            EXPECT_FALSE(e.bytesWentBack) << i;
        }
        // The step's expected waiting is what its waits announced.
        std::uint32_t announced = 0;
        for (const RecordingProgress::Wait& w : progress.waits)
            if (w.step == i) announced += w.expectedMs;
        EXPECT_EQ(announced, toDo[i].waitMs) << i;
    }

    // Each wait as long as expected (the short pauses of reopening aside) and
    // within its longest, the polled ones too (the checksum, the completion
    // command): the emulated monitor takes the time a monitor is known to
    // take, so the expected number of polls is the number made; and no wait of
    // the run went untold.
    EXPECT_FALSE(progress.unpaired);
    EXPECT_FALSE(progress.Waiting());
    std::size_t told = 0;
    for (const RecordingProgress::Wait& w : progress.waits) {
        const std::vector<std::uint32_t> sleeps = Long(w.sleeps);
        ASSERT_FALSE(sleeps.empty()) << w.expectedMs;
        EXPECT_GE(w.elapsedMs, w.expectedMs);
        EXPECT_LE(w.elapsedMs, w.longestMs);
        EXPECT_LT(w.elapsedMs, w.expectedMs + 1000)
            << "in step " << static_cast<int>(progress.entered[w.step].step) << ", " << sleeps.size() << " pauses";
        told += sleeps.size();
    }
    EXPECT_EQ(told, LongWaits().size());
}

std::string PlanCaseName(const ::testing::TestParamInfo<PlanCase>& info) {
    const PlanCase& pc = info.param;
    return std::string(KindName(pc.kind)) + "_Stage" + std::to_string(pc.stage) + "_Loader" +
           std::to_string(pc.loaderFlag);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, UpdateProgressTest, ::testing::ValuesIn(kPlanCases), PlanCaseName);

}  // namespace
