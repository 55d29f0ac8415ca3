#pragma once
// For the update tests: stops a run right after a stage change, to see what the
// backup file holds when an update breaks off there.
#include <functional>
#include <optional>
#include <vector>

#include "common/file_size_limit_testing.h"
#include "common/update_progress.h"
#include "update/update_context.h"

namespace update_testing {

// How the run is stopped: the monitor is lost (taken off the bus for good), or
// no backup file can be written any more, so the next stage change fails.
enum class StopBy { LosingTheMonitor, FailingSaves };

// A progress listener that, at the first step the update enters once its
// context holds `stage`, stops the run: through `loseMonitor`, or by a file
// size limit that lasts until AllowSaves() or the object's end.
class StopAtStage final : public UpdateProgress {
public:
    StopAtStage(const UpdateContext& update, std::int32_t stage, StopBy by, std::function<void()> loseMonitor)
        : update_(update), stage_(stage), by_(by), loseMonitor_(std::move(loseMonitor)) {}

    // Whether the update reached the stage at a step, and was stopped there.
    bool Stopped() const { return stopped_; }
    void AllowSaves() { noSaves_.reset(); }

    void EnterStep(UpdateStep, std::uint32_t, std::uint32_t) override {
        if (stopped_ || update_.stage != stage_) return;
        stopped_ = true;
        if (by_ == StopBy::LosingTheMonitor) loseMonitor_();
        else noSaves_.emplace(1);  // a record does not fit in one byte
    }
    void Plan(const std::vector<PlannedStep>&) override {}
    void TransferProgress(std::uint64_t, std::uint64_t) override {}
    void WaitBegins(std::uint32_t, std::uint32_t) override {}
    void WaitEnds() override {}

private:
    const UpdateContext& update_;
    std::int32_t stage_;
    StopBy by_;
    std::function<void()> loseMonitor_;
    bool stopped_ = false;
    std::optional<ScopedFileSizeLimit> noSaves_;
};

}  // namespace update_testing
