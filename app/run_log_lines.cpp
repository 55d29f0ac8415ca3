#include "app/run_log_lines.h"

#include "app/failure_report.h"
#include "app/progress_text.h"

std::string LogStepText(const ProgressSnapshot& step) { return StepText(step, Language::English); }

std::string AtStepText(const ProgressSnapshot& progress) {
    if (!progress.started || progress.completed) return {};
    return " at step \"" + LogStepText(progress) + "\"";
}

std::string StatusText(Status status, const std::optional<SystemFailure>& cause) {
    const std::string code = "status " + StatusCodeText(status);
    if (!cause) return code;
    return code + " (" + cause->Text() + ")";
}
