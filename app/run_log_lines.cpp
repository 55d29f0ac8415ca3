#include "app/run_log_lines.h"

#include "app/failure_report.h"

std::string StepText(const ProgressSnapshot& step) {
    const auto component = [&](const char* verb) {
        return std::string(verb) + " component " + std::to_string(step.component) + " of " +
               std::to_string(step.components);
    };
    switch (step.step) {
        case UpdateStep::Preparing: return "preparing the update";
        case UpdateStep::EnteringUpdateState: return "restarting the monitor into its update mode";
        case UpdateStep::WritingComponent: return component("writing");
        case UpdateStep::VerifyingComponent: return component("verifying");
        case UpdateStep::Restarting: return "restarting the monitor";
        case UpdateStep::RestoringSettings: return "restoring the monitor's settings";
        case UpdateStep::Finishing: return "finishing the update";
    }
    return "step " + std::to_string(static_cast<int>(step.step));
}

std::string StatusText(Status status, const std::optional<SystemFailure>& cause) {
    const std::string code = "status " + StatusCodeText(status);
    if (!cause) return code;
    return code + " (" + cause->Text() + ")";
}
