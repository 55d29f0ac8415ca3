// The tracker's cost per report: a block reported as bytes moved, and a
// snapshot as the window takes it each tick, on a plan of a large update
// (five components, waits, read-back).
#include <benchmark/benchmark.h>

#include "common/clock.h"
#include "update/progress_tracker.h"

namespace {

std::vector<PlannedStep> LargePlan() {
    std::vector<PlannedStep> plan{{UpdateStep::Preparing}, {UpdateStep::EnteringUpdateState, 0, 0, 41000},
                                  {UpdateStep::Restarting, 0, 0, 15000}};
    for (std::uint32_t i = 1; i <= 5; ++i)
        plan.push_back({UpdateStep::WritingComponent, i, 64u << 20, 1000, false, 12000});
    plan.push_back({UpdateStep::Restarting, 0, 0, 15000});
    for (std::uint32_t i = 1; i <= 2; ++i) plan.push_back({UpdateStep::VerifyingComponent, i, 64u << 20, 0, false, 12000});
    plan.push_back({UpdateStep::RestoringSettings, 0, 0, 11000});
    plan.push_back({UpdateStep::Finishing, 0, 0, 2000});
    return plan;
}

// The large plan, writing its first component.
void StartWriting(ProgressTracker& tracker) {
    tracker.Plan(LargePlan());
    tracker.EnterStep(UpdateStep::WritingComponent, 1, 5);
}

void BM_TransferReport(benchmark::State& state) {
    VirtualClock clock;
    ScopedClock useClock(clock);
    ProgressTracker tracker;
    StartWriting(tracker);
    std::uint64_t done = 0;
    for (auto _ : state) {
        done += 512;
        clock.Advance(6);
        tracker.TransferProgress(done, 64u << 20);
    }
}
BENCHMARK(BM_TransferReport);

void BM_Snapshot(benchmark::State& state) {
    VirtualClock clock;
    ScopedClock useClock(clock);
    ProgressTracker tracker;
    StartWriting(tracker);
    tracker.TransferProgress(0, 64u << 20);
    clock.Advance(6);
    tracker.TransferProgress(512, 64u << 20);
    for (auto _ : state) benchmark::DoNotOptimize(tracker.Snapshot());
}
BENCHMARK(BM_Snapshot);

}  // namespace

BENCHMARK_MAIN();
