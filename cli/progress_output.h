#pragma once
// The update's progress as quillon-cli prints it: on a terminal one line that
// rewrites itself (step, bar, percent, time left); otherwise one line per
// step; with --json one object per line ("step" and "progress" events). The
// steps come as the update enters them, so a step shorter than the second
// between two snapshots still has its line.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "app/message_catalogue.h"
#include "update/progress_tracker.h"

enum class ProgressForm { Terminal, Lines, Json };

class ProgressOutput {
public:
    ProgressOutput(std::ostream& out, ProgressForm form, Language language);

    // A step the update has entered, as it entered it: a line of its own, or a
    // "step" event (the terminal's line names the step with the progress).
    void ShowStep(const ProgressSnapshot& step);
    // Prints what changed in the progress since the last snapshot shown.
    void Show(const ProgressSnapshot& snapshot);
    // Until the update reports its plan: the share of the estimate that has
    // passed (never 100) and the estimate's time left, marked as estimated.
    void ShowEstimate(std::uint32_t percent, std::uint32_t secondsLeft);
    // Ends the self-rewriting line, so that what follows starts on a line of its own.
    void EndLine();

private:
    void ShowProgress(const ProgressSnapshot& snapshot);

    std::ostream& out_;
    ProgressForm form_;
    Language language_;
    std::optional<ProgressSnapshot> last_;
    std::optional<std::uint32_t> lastEstimatePercent_;
    bool lineOpen_ = false;
};

// "writing", "verifying", …: the step's name in the JSON events.
const char* StepName(UpdateStep step);
