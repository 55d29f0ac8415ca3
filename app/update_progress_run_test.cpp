// The progress a whole run shows, seen at every transfer the monitor serves:
// the bar never goes back and is full only once the update completed, on each
// kind of monitor, on a run that resumes an interrupted update and across an
// automatic restart; and, with areas large enough for the transfers to take
// most of the time, the time left is within a tenth of the time the run
// really took, to its last second.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <iostream>

#include "app/app_testing.h"

namespace {

using namespace app_testing;

constexpr std::uint32_t kWhole = 10000;

// What the window would show, on the virtual clock: at every transfer the
// monitor serves, and every second of every wait, as the window's timer ticks.
class ProgressSampler final : public TransferLog, public Clock {
public:
    ProgressSampler(const ProgressTracker& tracker, VirtualClock& clock) : tracker_(tracker), clock_(clock) {}
    struct Seen {
        std::uint64_t ms;
        ProgressSnapshot snapshot;
        std::uint32_t transfers;  // served so far
    };
    void Record(const TransferRecord&) override {
        ++transfers_;
        Take();
    }
    void SleepMs(std::uint32_t ms) override {
        for (std::uint32_t left = ms; left > 0;) {
            const std::uint32_t step = std::min(left, kTickMs);
            clock_.Advance(step);
            left -= step;
            Take();
        }
    }
    std::uint64_t NowMs() override { return clock_.NowMs(); }

    std::vector<Seen> Taken() {
        const std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    static constexpr std::uint32_t kTickMs = 1000;
    void Take() {
        const std::lock_guard lock(mutex_);
        seen_.push_back({clock_.NowMs(), tracker_.Snapshot(), transfers_});
    }
    const ProgressTracker& tracker_;
    VirtualClock& clock_;
    std::mutex mutex_;
    std::vector<Seen> seen_;
    std::atomic<std::uint32_t> transfers_ = 0;
};

struct RunTrace {
    std::vector<ProgressSampler::Seen> seen;  // once a plan was reported
    std::vector<ProgressSnapshot> shown;             // what the window was given
    std::vector<TextId> messages;
    std::uint64_t endMs = 0;                         // when the run said it completed
    std::uint32_t restarts = 0;
};

RunTrace RunUpdate(Bench& bench, Monitor& monitor) {
    ScriptedView view;
    RunTrace trace;
    view.onMessage = [&](const UserMessage& message) {
        if (message.text == text_id::kComplete) trace.endMs = NowMs();
    };
    auto run = bench.NewRun(view);
    ProgressSampler sampler(run->Run().progress, bench.clock);
    {
        const ScopedClock useSampler(sampler);
        monitor.SetLog(&sampler);
        RunToEnd(*run, view);
        monitor.SetLog(nullptr);
        if (!run->Ended()) run->Close();
    }
    for (const auto& s : sampler.Taken())
        if (s.snapshot.started) trace.seen.push_back(s);
    trace.shown = view.progress;
    trace.messages = view.MessageIds();
    trace.restarts = run->Run().retryCount;
    return trace;
}

// Never back, below the whole until the update completed; the whole at its end when it did.
void ExpectSteadyBar(const RunTrace& trace, bool completes) {
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < trace.seen.size(); ++i) {
        const ProgressSnapshot& s = trace.seen[i].snapshot;
        EXPECT_GE(s.progress, last) << "transfer " << i;
        EXPECT_LT(s.progress, kWhole) << "transfer " << i;
        EXPECT_FALSE(s.completed) << "transfer " << i;
        last = s.progress;
    }
    last = 0;
    for (std::size_t i = 0; i < trace.shown.size(); ++i) {
        const ProgressSnapshot& s = trace.shown[i];
        EXPECT_GE(s.progress, last) << "shown " << i;
        EXPECT_EQ(s.progress == kWhole, s.completed) << "shown " << i;
        last = s.progress;
    }
    ASSERT_FALSE(trace.shown.empty());
    EXPECT_EQ(trace.shown.back().completed, completes);
    if (completes) {
        EXPECT_EQ(trace.shown.back().progress, kWhole);
    }
}

std::uint32_t LargestJump(const RunTrace& trace) {
    std::uint32_t jump = 0, last = 0;
    for (const auto& s : trace.seen) {
        jump = std::max(jump, s.snapshot.progress - last);
        last = s.snapshot.progress;
    }
    return jump;
}

class UpdateProgressRunTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    // Transfers timed as a full-speed bus times them, and areas `areaScale`
    // times the normal, for the writing to take most of the update.
    static Monitor& PlugTimed(Bench& bench, std::uint32_t areaScale, FaultPlan faults = {}) {
        SeedHidRetryRandom(kSeed);
        SeedStartupDelay(kSeed);
        MonitorConfig config = Bench::Config(GetParam());
        config.transferTime = TransferTimeModel{};
        config.areaScale = areaScale;
        Monitor& monitor = bench.Plug(config);
        Bench::PackageContents contents;
        contents.areaScale = areaScale;
        bench.WritePackage(contents);
        monitor.AddFaults(faults);
        return monitor;
    }

    static constexpr std::uint32_t kSeed = 20261210;
};

INSTANTIATE_TEST_SUITE_P(AllKinds, UpdateProgressRunTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(UpdateProgressRunTest, TheTimeLeftIsCloseToTheTimeTheRunTook) {
    Bench bench;
    // Areas for the transfers to take most of the update (combined packets
    // move more bytes a millisecond).
    const std::uint32_t scale = GetParam() == MonitorKind::CombinedTunnel ? 600 : 300;
    Monitor& monitor = PlugTimed(bench, scale);
    const RunTrace trace = RunUpdate(bench, monitor);
    ASSERT_EQ(trace.messages, std::vector<TextId>{text_id::kComplete});
    ExpectSteadyBar(trace, true);

    // From the first tenth to the end, within a tenth of what was really left,
    // the last seconds too; before the first byte, with the rate from commands
    // timed before writing. The time left is told in whole seconds rounded
    // up: a told N stands for anything from N-1 to N s, and the error is the
    // distance from that second.
    double worst = 0;
    std::optional<std::uint64_t> firstJudgedMs;
    for (const auto& [ms, s, transfers] : trace.seen) {
        if (s.progress < kWhole / 10) continue;
        ASSERT_TRUE(s.secondsLeft.has_value());
        const double real = static_cast<double>(trace.endMs - ms);
        const double told = *s.secondsLeft * 1000.0;
        const double error = real > told ? real - told : std::max(0.0, told - 1000 - real);
        EXPECT_LE(error, 0.10 * real) << "at " << s.progress << " in step " << static_cast<int>(s.step) << ": "
                                      << *s.secondsLeft << " s told, " << real / 1000 << " s left";
        if (real > 0) worst = std::max(worst, error / real);
        if (!firstJudgedMs) firstJudgedMs = ms;
    }
    // Judged over most of the run.
    ASSERT_TRUE(firstJudgedMs.has_value());
    const std::uint64_t startMs = trace.seen.front().ms;
    EXPECT_LT(*firstJudgedMs - startMs, (trace.endMs - startMs) / 4);
    std::cout << KindName(GetParam()) << ": " << (trace.endMs - trace.seen.front().ms) / 1000 << " s, "
              << trace.seen.size() << " samples, largest step of the bar " << LargestJump(trace) / 100.0
              << "%, worst time-left error " << worst * 100 << "% of the real remainder\n";
}

// Power lost once the components are written (while they are checked or the
// settings are stored), then a new run: it starts where the first one was.
TEST_P(UpdateProgressRunTest, AResumedRunStartsAtTheShareAlreadyDone) {
    const UpdateStep cutIn = GetParam() == MonitorKind::CombinedTunnel ? UpdateStep::RestoringSettings
                                                                       : UpdateStep::VerifyingComponent;
    std::uint32_t cutTransfer = 0, shareThen = 0;
    {
        Bench bench;
        Monitor& monitor = PlugTimed(bench, 1);
        const RunTrace clean = RunUpdate(bench, monitor);
        ASSERT_EQ(clean.messages, std::vector<TextId>{text_id::kComplete});
        const auto at = std::find_if(clean.seen.begin(), clean.seen.end(),
                                     [&](const auto& s) { return s.snapshot.step == cutIn; });
        ASSERT_NE(at, clean.seen.end());
        // The power fails at the next transfer (counted from 1, the file phase's included).
        cutTransfer = at->transfers + 1;
        shareThen = at->snapshot.progress;
    }
    Bench bench;
    FaultPlan cut;
    cut.unplugAtTransfer = cutTransfer;
    Monitor& monitor = PlugTimed(bench, 1, cut);
    const RunTrace interrupted = RunUpdate(bench, monitor);
    ASSERT_NE(interrupted.messages, std::vector<TextId>{text_id::kComplete});
    ASSERT_FALSE(monitor.PowerCutPending());
    ASSERT_TRUE(bench.BackupExists());
    ExpectSteadyBar(interrupted, false);

    bench.clock.Advance(60'000);  // the user starts the updater again a minute later
    const RunTrace resumed = RunUpdate(bench, monitor);
    ASSERT_EQ(resumed.messages, std::vector<TextId>{text_id::kComplete});
    ExpectSteadyBar(resumed, true);
    ASSERT_FALSE(resumed.seen.empty());
    // The rate is not measured yet when the resumed run plans, so the share is
    // weighed a little differently than in the first run.
    EXPECT_GE(resumed.seen.front().snapshot.progress, shareThen * 8 / 10);
    EXPECT_GT(shareThen, kWhole / 2);
}

// A run that fails once and is started again by itself repeats the writing:
// the bar holds until the repeat passes it, and is full only at the end.
TEST_P(UpdateProgressRunTest, AnAutomaticRestartHoldsTheBar) {
    Bench bench;
    FaultPlan faults;
    faults.corruptWrites = 1;
    Monitor& monitor = PlugTimed(bench, 1, faults);
    const RunTrace trace = RunUpdate(bench, monitor);
    ASSERT_EQ(trace.messages, std::vector<TextId>{text_id::kComplete});
    EXPECT_EQ(trace.restarts, 1u);
    ExpectSteadyBar(trace, true);
}

}  // namespace
