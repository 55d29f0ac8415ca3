#include "cli/progress_output.h"

#include "app/progress_text.h"
#include "cli/json_output.h"

namespace {

constexpr std::size_t kBarWidth = 30;

bool SameStep(const ProgressSnapshot& a, const ProgressSnapshot& b) {
    return a.started == b.started && a.step == b.step && a.component == b.component && a.components == b.components;
}

bool SameProgress(const ProgressSnapshot& a, const ProgressSnapshot& b) {
    return a.Percent() == b.Percent() && a.secondsLeft == b.secondsLeft && a.waitEndUnknown == b.waitEndUnknown &&
           a.completed == b.completed;
}

std::string Bar(std::uint32_t percent) {
    const std::size_t filled = kBarWidth * std::min<std::uint32_t>(percent, 100) / 100;
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]";
}

}  // namespace

const char* StepName(UpdateStep step) {
    switch (step) {
        case UpdateStep::Preparing:
            return "preparing";
        case UpdateStep::EnteringUpdateState:
            return "entering-update-mode";
        case UpdateStep::WritingComponent:
            return "writing";
        case UpdateStep::VerifyingComponent:
            return "verifying";
        case UpdateStep::Restarting:
            return "restarting";
        case UpdateStep::RestoringSettings:
            return "restoring-settings";
        case UpdateStep::Finishing:
            return "finishing";
    }
    return "preparing";
}

ProgressOutput::ProgressOutput(std::ostream& out, ProgressForm form, Language language)
    : out_(out), form_(form), language_(language) {}

void ProgressOutput::Show(const ProgressSnapshot& snapshot) {
    if (!snapshot.started) return;
    const bool newStep = !last_ || !SameStep(*last_, snapshot);
    const bool moved = !last_ || !SameProgress(*last_, snapshot);
    last_ = snapshot;
    if (newStep || moved) ShowProgress(snapshot);
    out_.flush();
}

void ProgressOutput::ShowStep(const ProgressSnapshot& step) {
    switch (form_) {
        case ProgressForm::Terminal:
            return;  // the progress line names the step
        case ProgressForm::Lines:
            out_ << StepText(step, language_) << " (" << step.Percent() << "%)\n";
            break;
        case ProgressForm::Json: {
            JsonWriter json = JsonOutput(out_);
            json.BeginObject().Field("event", "step").Field("step", StepName(step.step));
            if (step.components > 0) json.Field("component", step.component).Field("components", step.components);
            json.Field("text", StepText(step, language_)).EndObject();
            out_ << "\n";
            break;
        }
    }
    out_.flush();
}

void ProgressOutput::ShowProgress(const ProgressSnapshot& snapshot) {
    switch (form_) {
        case ProgressForm::Terminal:
            // Back to the line's start and clear it: the text may be shorter than before.
            out_ << "\r\033[K" << Bar(snapshot.Percent()) << ' ' << snapshot.Percent() << "%  "
                 << ProgressLine(snapshot, language_);
            lineOpen_ = true;
            break;
        case ProgressForm::Lines:
            break;  // one line per step only
        case ProgressForm::Json: {
            JsonWriter json = JsonOutput(out_);
            json.BeginObject().Field("event", "progress").Field("percent", snapshot.Percent()).Key("secondsLeft");
            if (snapshot.secondsLeft && !snapshot.waitEndUnknown)
                json.Number(*snapshot.secondsLeft);
            else
                json.Null();
            if (snapshot.waitEndUnknown) json.Field("waitLongestSeconds", snapshot.waitLongestSeconds);
            json.EndObject();
            out_ << "\n";
            break;
        }
    }
}

void ProgressOutput::ShowEstimate(std::uint32_t percent, std::uint32_t secondsLeft) {
    percent = std::min<std::uint32_t>(percent, 99);
    if (lastEstimatePercent_ == percent) return;
    lastEstimatePercent_ = percent;
    const std::uint32_t minutes = (secondsLeft + 59) / 60;
    switch (form_) {
        case ProgressForm::Terminal:
            out_ << "\r\033[K" << Bar(percent) << ' ' << percent << "%  ~" << minutes << " min";
            lineOpen_ = true;
            break;
        case ProgressForm::Lines:
            break;  // the summary gave the estimate
        case ProgressForm::Json:
            JsonOutput(out_)
                .BeginObject()
                .Field("event", "progress")
                .Field("percent", percent)
                .Field("secondsLeft", secondsLeft)
                .Key("estimated")
                .Bool(true)
                .EndObject();
            out_ << "\n";
            break;
    }
    out_.flush();
}

void ProgressOutput::EndLine() {
    if (!lineOpen_) return;
    out_ << "\n";
    out_.flush();
    lineOpen_ = false;
}
