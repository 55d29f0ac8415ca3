#pragma once
// Turns an update's progress reports into a snapshot that another thread reads:
// a percentage that moves evenly and never goes back, the step, and an honest
// time left. Steps are weighted by what they cost: transfers by their bytes at
// the rate measured in this run, waits by their expected length.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "common/update_progress.h"

struct ProgressSnapshot {
    bool started = false;       // a plan has been reported
    bool completed = false;     // Complete() was called: the update finished
    UpdateStep step = UpdateStep::Preparing;
    std::uint32_t component = 0, components = 0;  // X of N with the component steps
    // 0 to 10000 (hundredths of a percent); never less than an earlier
    // snapshot's, and 10000 only once completed.
    std::uint32_t progress = 0;
    std::optional<std::uint32_t> secondsLeft;  // nullopt until it can be told; 0 only once completed
    // In a wait that has outlasted its expected length, so that its end is
    // unknown: the bar shows busy, and the text says how long it may still take.
    bool waitEndUnknown = false;
    std::uint32_t waitElapsedSeconds = 0;
    std::uint32_t waitLongestSeconds = 0;

    std::uint32_t Percent() const { return progress / 100; }
};

class ProgressTracker final : public UpdateProgress {
public:
    ProgressTracker();
    ~ProgressTracker() override;

    void Plan(const std::vector<PlannedStep>& steps) override;
    void EnterStep(UpdateStep step, std::uint32_t component, std::uint32_t components) override;
    void TransferProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) override;
    void WaitBegins(std::uint32_t expectedMs, std::uint32_t longestMs) override;
    void WaitEnds() override;

    // The update completed: 100%.
    void Complete();
    // Safe from any thread.
    ProgressSnapshot Snapshot() const;
    // Called on the update's thread, outside the tracker's lock, each time a
    // step begins (the run log and the command line's per-step lines).
    void SetStepListener(std::function<void(const ProgressSnapshot&)> listener);

private:
    // The implementation keeps its state behind the mutex.
    struct State;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
    std::function<void(const ProgressSnapshot&)> stepListener_;
};
