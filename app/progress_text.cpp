#include "app/progress_text.h"

#include <algorithm>
#include <vector>

namespace {

std::string Text(TextId id, Language language, std::vector<MessageArgument> arguments = {}) {
    return FormatCatalogueText(CatalogueText(id, language), arguments);
}

int AsInt(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, 1'000'000)); }

TextId StepTextId(UpdateStep step) {
    switch (step) {
        case UpdateStep::Preparing: return text_id::kStepPreparing;
        case UpdateStep::EnteringUpdateState: return text_id::kStepEnteringUpdateMode;
        case UpdateStep::WritingComponent: return text_id::kStepWriting;
        case UpdateStep::VerifyingComponent: return text_id::kStepVerifying;
        case UpdateStep::Restarting: return text_id::kStepRestarting;
        case UpdateStep::RestoringSettings: return text_id::kStepRestoringSettings;
        case UpdateStep::Finishing: return text_id::kStepFinishing;
    }
    return text_id::kStepPreparing;
}

// What a wait in this step waits for.
TextId WaitTextId(UpdateStep step) {
    switch (step) {
        case UpdateStep::EnteringUpdateState:
        case UpdateStep::Restarting: return text_id::kWaitingForReturn;
        case UpdateStep::VerifyingComponent: return text_id::kWaitingForCheck;
        default: return text_id::kWaitingForMonitor;
    }
}

}  // namespace

std::string StepText(const ProgressSnapshot& snapshot, Language language) {
    const TextId id = StepTextId(snapshot.step);
    if (id == text_id::kStepWriting || id == text_id::kStepVerifying)
        return Text(id, language, {AsInt(snapshot.component), AsInt(snapshot.components)});
    return Text(id, language);
}

std::string ProgressLine(const ProgressSnapshot& snapshot, Language language) {
    if (!snapshot.started) return "";
    const std::string step = StepText(snapshot, language);
    if (snapshot.waitEndUnknown) {
        const std::uint32_t most = snapshot.waitLongestSeconds > snapshot.waitElapsedSeconds
                                       ? snapshot.waitLongestSeconds - snapshot.waitElapsedSeconds
                                       : 0;
        return Text(WaitTextId(snapshot.step), language, {step, AsInt(most)});
    }
    if (snapshot.completed || !snapshot.secondsLeft) return step;
    // Whole minutes, rounded up: "about 1 min left" until the last minute begins.
    if (*snapshot.secondsLeft < 60) return Text(text_id::kUnderAMinuteLeft, language, {step});
    return Text(text_id::kMinutesLeft, language, {step, AsInt((*snapshot.secondsLeft + 59) / 60)});
}
