#include <filesystem>

#include "app/app_status.h"
#include "app/failure_report.h"
#include "app/main_workflow.h"
#include "app/update_estimate.h"
#include "app/update_lock.h"
#include "app/version_display.h"
#include "cli/cli_view.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "common/clock.h"

namespace {

constexpr std::uint32_t kTickMs = 1000;

// The exit code and the JSON result line of a run that has ended.
int Finish(const CommandLine& line, CliIo& io, const CliView& view, const MainWorkflow& workflow,
           std::optional<int> signal) {
    Status status = kStatusSuccess;
    int code = kExitDone;
    if (signal) {
        status = kCliStopped;
        code = kExitSignalBase + *signal;
    } else {
        switch (view.Outcome()) {
            case CliOutcome::Completed:
                break;
            case CliOutcome::NothingToDo:
                code = kExitNothingToDo;
                break;
            default:
                code = kExitFailed;
                break;
        }
        if (code != kExitDone) status = workflow.ShownFailure().value_or(view.RefusalStatus().value_or(kAppFailed));
        if (view.Outcome() == CliOutcome::NothingToDo && view.RefusalStatus()) status = *view.RefusalStatus();
    }
    if (line.json) {
        const std::string version = code == kExitDone ? view.NewVersion() : view.CurrentVersion();
        JsonWriter json = JsonOutput(io.out);
        json.BeginObject()
            .Field("event", "result")
            .Field("status", StatusCodeText(status))
            .Field("message", view.LastMessage())
            .Field("version", version);
        if (!workflow.RunLogPath().empty()) json.Field("runLog", workflow.RunLogPath());
        json.EndObject();
        io.out << "\n";
        io.out.flush();
    }
    return code;
}

// Why a stop signal is refused now, and how long the update may still take:
// the time left the update tells, or before it can tell, the whole estimate.
std::string CannotStopText(const UpdateRun& run, std::uint32_t estimateSecondsLeft, Language language) {
    const std::uint32_t left = run.progress.Snapshot().secondsLeft.value_or(estimateSecondsLeft);
    if (left < 60) return CatalogueText(text_id::kCannotStopUnderAMinute, language);
    return LocalText(text_id::kCannotStopMinutes, language, {static_cast<int>((left + 59) / 60)});
}

// A stop signal before the update has begun. One that suspends the job (Ctrl-Z)
// suspends it as a user expects: nothing is written yet, and the run goes on
// where it was once the job is continued.
std::optional<int> TakeStopBeforeUpdate(CliIo& io) {
    for (;;) {
        const std::optional<int> signal = io.takeStopSignal();
        if (!signal || !SuspendsTheJob(*signal)) return signal;
        io.suspend(*signal);
    }
}

// The warning's estimate of the whole update, in seconds.
std::uint32_t EstimateSeconds(const UpdateRun& run) {
    const ComponentDescriptors descriptors =
        run.selectedPackage != kNoPackageHandle
            ? PackageDescriptors(run.selectedPackage)
            : FirmwareComponents(run.record);
    return EstimateUpdateMinutes(descriptors) * 60;
}

}  // namespace

int UpdateCommand(const CommandLine& line, CliIo& io) {
    if (!line.yes && !io.inputIsTerminal) {
        io.err << "quillon-cli: without a terminal to confirm on, update needs --yes\n"
               << UsageLine(Command::Update) << "\n";
        return kExitUsage;
    }
    const std::optional<std::string> folder = CommandFolder(io);
    if (!folder) return kExitFailed;

    CliView view(line, io);
    MainWorkflow workflow(view, io.err, kCliName);
    workflow.SetStepObserver([&view](const ProgressSnapshot& step) { view.QueueStep(step); });
    UpdateRun& run = workflow.Run();
    run.packageFolder = *folder;
    run.stateFolders = io.stateFolders;
    if (!line.package.empty()) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(line.package, error);
        run.packagePath = error ? line.package : absolute.string();
    }

    // Held for the whole run, from before the backup file is read until the
    // monitor's settings are back: the window and other runs wait their turn.
    const UpdateLock lock;
    if (lock.Busy()) {
        view.Refuse(kCliUpdateRunning, LocalText(text_id::kUpdateRunning, io.language, {lock.Holder().Description()}));
        return Finish(line, io, view, workflow, std::nullopt);
    }
    // A lock that cannot be made (no socket left to this process): the run goes
    // on as the window's does, and says why.
    if (!lock.Held()) ReportFailure(io.err, kAppFailed, lock.Failure(), kCliName);

    workflow.Start();
    bool pressed = false;
    std::optional<int> stoppedBy;
    std::uint64_t updateStartMs = 0;
    std::uint32_t estimateSeconds = 0;
    while (!workflow.Ended()) {
        if (view.UpdateEnabled() && !pressed && !workflow.WorkerExists()) {
            // A stop asked for while the monitor was found and the package checked.
            if ((stoppedBy = TakeStopBeforeUpdate(io))) {
                workflow.Close();
                break;
            }
            pressed = true;
            estimateSeconds = EstimateSeconds(run);
            updateStartMs = NowMs();
            workflow.PressUpdate();
            if (!workflow.WorkerExists()) {  // not confirmed, or a stop signal during the question
                stoppedBy = TakeStopBeforeUpdate(io);
                workflow.Close();
                break;
            }
            continue;
        }
        if (!workflow.WorkerExists()) {  // nothing left to wait for
            workflow.Close();
            break;
        }
        SleepMs(kTickMs);
        const std::uint32_t elapsed = static_cast<std::uint32_t>((NowMs() - updateStartMs) / 1000);
        const std::uint32_t estimateLeft = estimateSeconds > elapsed ? estimateSeconds - elapsed : 0;
        if (const std::optional<int> signal = pressed ? io.takeStopSignal() : TakeStopBeforeUpdate(io)) {
            if (!pressed) {
                // Before the update: the window's exit path, once the package check has ended.
                workflow.WaitForWorker();
                stoppedBy = signal;
                workflow.Tick();
                workflow.Close();
                break;
            }
            io.err << "\nquillon-cli: " << CannotStopText(run, estimateLeft, io.language) << "\n";
            io.err.flush();
        }
        workflow.Tick();
        if (pressed && workflow.WorkerExists() && !run.progress.Snapshot().started && estimateSeconds > 0)
            view.ShowEstimate(elapsed * 100 / estimateSeconds, estimateLeft);
    }
    return Finish(line, io, view, workflow, stoppedBy);
}
