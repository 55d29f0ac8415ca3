#pragma once
// How an update tells what it is doing. The update sequences, the component
// writers and the waits under them report through this one interface, passed
// in by whoever runs the update; update/progress_tracker.h turns the reports
// into a snapshot the window and the command line read. Every call comes from
// the thread that runs the update.
#include <cstdint>
#include <vector>

enum class UpdateStep : std::uint8_t {
    Preparing,            // saving the settings and attaching the package's set
    EnteringUpdateState,  // restarting the monitor into its update state
    WritingComponent,     // component X of N, block by block
    VerifyingComponent,   // component X of N, by checksum or by reading it back
    Restarting,           // restarting the monitor and waiting for it to come back
    RestoringSettings,    // putting the saved settings back
    Finishing,            // checking the versions and releasing the monitor
};

// One step of the work ahead, as the sequence plans it from the stage it starts at.
struct PlannedStep {
    UpdateStep step = UpdateStep::Preparing;
    std::uint32_t component = 0;   // 1-based, with the component steps; 0 otherwise
    std::uint64_t bytes = 0;       // bytes to transfer (written or read back)
    std::uint32_t waitMs = 0;      // the expected length of its waits: first attempts, not longest bounds
    bool done = false;             // done by an earlier run (a resumed update)
    // With the component steps: the monitor's time per byte written as
    // estimated before any byte has moved; 0 when unknown. A rate measured in
    // the run replaces it.
    std::uint32_t estimatedNsPerByte = 0;
    // Of `bytes`, the last so many are read back (all of a verifying step's,
    // half of a write step's on a monitor without a checksum), at this
    // estimated time per byte: a monitor may answer reads slower than it takes writes.
    std::uint64_t readBackBytes = 0;
    std::uint32_t estimatedReadNsPerByte = 0;
};

class UpdateProgress {
public:
    virtual ~UpdateProgress() = default;
    // The whole update, the steps an earlier run finished marked done. Called
    // once by each run of a sequence, before its first step.
    virtual void Plan(const std::vector<PlannedStep>& steps) = 0;
    // A step begins; `component` of `components` with the component steps.
    virtual void EnterStep(UpdateStep step, std::uint32_t component = 0, std::uint32_t components = 0) = 0;
    // Within the present step: bytes transferred so far of its total.
    virtual void TransferProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) = 0;
    // A wait begins: expected to last `expectedMs`, bounded by `longestMs`.
    virtual void WaitBegins(std::uint32_t expectedMs, std::uint32_t longestMs) = 0;
    virtual void WaitEnds() = 0;
};

// How long a loop that pauses `pollMs` between polls waits for work of `workMs`
// begun at its first pause: it sees the work done at the first poll after it ends.
constexpr std::uint32_t PolledWaitMs(std::uint32_t workMs, std::uint32_t pollMs) {
    return (workMs + pollMs - 1) / pollMs * pollMs;
}

// A wait told to `progress` (when there is one) from Begin until this object
// goes: every return of a waiting loop ends it. Begin tells only the first time,
// so that a loop may call it on each of its pauses.
class ReportedWait {
public:
    explicit ReportedWait(UpdateProgress* progress) : progress_(progress) {}
    ReportedWait(UpdateProgress* progress, std::uint32_t expectedMs, std::uint32_t longestMs) : progress_(progress) {
        Begin(expectedMs, longestMs);
    }
    ~ReportedWait() {
        if (begun_) progress_->WaitEnds();
    }
    ReportedWait(const ReportedWait&) = delete;
    ReportedWait& operator=(const ReportedWait&) = delete;

    void Begin(std::uint32_t expectedMs, std::uint32_t longestMs) {
        if (begun_ || progress_ == nullptr) return;
        progress_->WaitBegins(expectedMs, longestMs);
        begun_ = true;
    }

private:
    UpdateProgress* progress_;
    bool begun_ = false;
};
