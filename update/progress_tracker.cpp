#include "update/progress_tracker.h"

#include <algorithm>
#include <vector>

#include "common/clock.h"

namespace {

// Before the first block of this run has been timed: the rate of a
// full-speed control transfer of one 512-byte packet every two milliseconds.
constexpr double kSeedMsPerByte = 2.0 / 512;
// Below 100% until the update says it has completed.
constexpr std::uint32_t kBeforeCompletion = 9999;
constexpr std::uint32_t kWhole = 10000;

bool SameStep(const PlannedStep& planned, UpdateStep step, std::uint32_t component) {
    return planned.step == step && planned.component == component;
}

std::uint64_t WrittenBytes(const PlannedStep& step) { return step.bytes - std::min(step.readBackBytes, step.bytes); }

}  // namespace

struct ProgressTracker::State {
    std::vector<PlannedStep> plan;
    std::size_t current = 0;  // index into plan; plan.size() before the first planned step
    bool inPlannedStep = false;
    ProgressSnapshot shown;   // step, component and the highest progress reported so far

    // The transfer rate measured in this run, apart for bytes written and bytes
    // read back: a monitor may answer reads slower than it takes writes.
    struct Timed {
        std::uint64_t bytes = 0;
        std::uint64_t ms = 0;
        double estimateMs = 0;  // what the timed bytes were estimated to take
        bool Measured() const { return bytes != 0 && ms != 0; }
    };
    Timed timedWritten, timedRead;
    std::uint64_t lastTransferMs = 0;
    std::uint64_t lastTransferBytes = 0;
    bool transferTimed = false;  // lastTransfer* belong to the present step

    // The present step's own progress.
    std::uint64_t stepBytes = 0;
    std::uint64_t stepWaitedMs = 0;  // waits of this step that have ended
    bool waiting = false;
    std::uint64_t waitStartMs = 0;
    std::uint32_t waitExpectedMs = 0;
    std::uint32_t waitLongestMs = 0;

    // A step's time per byte written or read back. Its estimate (block sizes
    // differ between components, and with them the cost of a byte) scaled by
    // how the bytes of that direction timed in this run compared with their
    // estimates, or those of the other direction before any of its own moved;
    // without an estimate, the rate measured so, else the seed.
    double MsPerByte(const PlannedStep& step, bool read) const {
        const Timed& own = read ? timedRead : timedWritten;
        const Timed& timed = own.Measured() ? own : (read ? timedWritten : timedRead);
        const std::uint32_t estimateNs = read ? step.estimatedReadNsPerByte : step.estimatedNsPerByte;
        if (estimateNs != 0) {
            const double estimate = estimateNs / 1e6;
            return timed.Measured() && timed.estimateMs > 0 ? estimate * timed.ms / timed.estimateMs : estimate;
        }
        return timed.Measured() ? static_cast<double>(timed.ms) / timed.bytes : kSeedMsPerByte;
    }
    // The time of the step's first `moved` bytes: the written ones first, then those read back.
    double BytesMs(const PlannedStep& step, std::uint64_t moved) const {
        const std::uint64_t n = std::min(moved, step.bytes);
        const std::uint64_t written = std::min(n, WrittenBytes(step));
        return written * MsPerByte(step, false) + (n - written) * MsPerByte(step, true);
    }
    double Weight(const PlannedStep& step) const { return BytesMs(step, step.bytes) + step.waitMs; }

    // Milliseconds of the planned work that are done, and that are planned in all.
    std::pair<double, double> Work(std::uint64_t nowMs) const {
        double done = 0, total = 0;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const double weight = Weight(plan[i]);
            total += weight;
            if (plan[i].done || (i < current && current < plan.size())) {
                done += weight;
            } else if (i == current && inPlannedStep) {
                const double bytes = BytesMs(plan[i], stepBytes);
                const std::uint64_t waited = stepWaitedMs + (waiting ? nowMs - waitStartMs : 0);
                done += std::min(weight, bytes + std::min<double>(waited, plan[i].waitMs));
            }
        }
        return {done, total};
    }
};

ProgressTracker::ProgressTracker() : state_(std::make_unique<State>()) {}

ProgressTracker::~ProgressTracker() = default;

void ProgressTracker::Plan(const std::vector<PlannedStep>& steps) {
    const std::lock_guard lock(mutex_);
    state_->plan = steps;
    state_->current = steps.size();
    state_->inPlannedStep = false;
    state_->shown.started = true;
}

void ProgressTracker::EnterStep(UpdateStep step, std::uint32_t component, std::uint32_t components) {
    ProgressSnapshot entered;
    {
        const std::lock_guard lock(mutex_);
        State& s = *state_;
        // The next planned step of that kind; an unplanned step (a second
        // restart after a version mismatch) holds the bar where it is.
        const std::size_t from = s.current < s.plan.size() && s.inPlannedStep ? s.current + 1 : 0;
        for (std::size_t i = from; i < s.plan.size(); ++i) {
            if (!s.plan[i].done && SameStep(s.plan[i], step, component)) {
                s.current = i;
                s.inPlannedStep = true;
                break;
            }
        }
        s.stepBytes = 0;
        s.stepWaitedMs = 0;
        s.waiting = false;
        s.transferTimed = false;
        s.shown.step = step;
        s.shown.component = component;
        s.shown.components = components;
    }
    entered = Snapshot();
    if (stepListener_) stepListener_(entered);
}

void ProgressTracker::TransferProgress(std::uint64_t doneBytes, std::uint64_t totalBytes) {
    (void)totalBytes;
    const std::uint64_t now = NowMs();
    const std::lock_guard lock(mutex_);
    State& s = *state_;
    if (s.transferTimed && doneBytes > s.lastTransferBytes) {
        // Blocks are told whole, so the bytes since the last report go one way:
        // read back once the step's written bytes have all moved.
        const PlannedStep* step = s.inPlannedStep && s.current < s.plan.size() ? &s.plan[s.current] : nullptr;
        const bool read = step != nullptr && s.lastTransferBytes >= WrittenBytes(*step);
        State::Timed& timed = read ? s.timedRead : s.timedWritten;
        const std::uint64_t bytes = doneBytes - s.lastTransferBytes;
        timed.bytes += bytes;
        timed.ms += now - s.lastTransferMs;
        if (step != nullptr) {
            const std::uint32_t estimate = read ? step->estimatedReadNsPerByte : step->estimatedNsPerByte;
            timed.estimateMs += bytes * (estimate != 0 ? estimate / 1e6 : kSeedMsPerByte);
        }
    }
    s.transferTimed = true;
    s.lastTransferBytes = doneBytes;
    s.lastTransferMs = now;
    s.stepBytes = doneBytes;
}

void ProgressTracker::WaitBegins(std::uint32_t expectedMs, std::uint32_t longestMs) {
    const std::uint64_t now = NowMs();
    const std::lock_guard lock(mutex_);
    State& s = *state_;
    s.waiting = true;
    s.waitStartMs = now;
    s.waitExpectedMs = expectedMs;
    s.waitLongestMs = longestMs;
    // A wait between two blocks is not transfer time.
    s.transferTimed = false;
}

void ProgressTracker::WaitEnds() {
    const std::uint64_t now = NowMs();
    const std::lock_guard lock(mutex_);
    State& s = *state_;
    if (!s.waiting) return;
    s.stepWaitedMs += now - s.waitStartMs;
    s.waiting = false;
}

void ProgressTracker::Complete() {
    const std::lock_guard lock(mutex_);
    state_->shown.completed = true;
    state_->shown.progress = kWhole;
    state_->shown.secondsLeft = 0;
    state_->waiting = false;
}

ProgressSnapshot ProgressTracker::Snapshot() const {
    const std::uint64_t now = NowMs();
    const std::lock_guard lock(mutex_);
    State& s = *state_;
    ProgressSnapshot snapshot = s.shown;
    if (snapshot.completed || !snapshot.started) return snapshot;
    const auto [done, total] = s.Work(now);
    if (total > 0) {
        const auto share = static_cast<std::uint32_t>(done / total * kWhole);
        // The bar never goes back: a repeated step holds it until the repeat passes it.
        s.shown.progress = std::max(s.shown.progress, std::min(share, kBeforeCompletion));
        snapshot.progress = s.shown.progress;
        // Rounded up, and never none before the update has said it completed:
        // work beyond the plan still takes time.
        snapshot.secondsLeft = std::max(1u, static_cast<std::uint32_t>((total - done + 999) / 1000));
    }
    if (s.waiting) {
        const std::uint64_t elapsed = now - s.waitStartMs;
        snapshot.waitEndUnknown = elapsed > s.waitExpectedMs;
        snapshot.waitElapsedSeconds = static_cast<std::uint32_t>(elapsed / 1000);
        snapshot.waitLongestSeconds = (s.waitLongestMs + 999) / 1000;
    }
    return snapshot;
}

void ProgressTracker::SetStepListener(std::function<void(const ProgressSnapshot&)> listener) {
    stepListener_ = std::move(listener);
}
