#pragma once
// The window's workflow on a terminal: quillon-cli's WorkflowView. The read-me
// and the list of programs to close are confirmed together with the summary
// before the update (or by --yes); the monitor is the one --monitor names, the
// only one connected, or the one an interrupted update names; messages go to
// standard error in the user's language with their status code.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/main_workflow.h"
#include "cli/cli_io.h"
#include "cli/command_line.h"
#include "cli/progress_output.h"

// How the run ended, beyond what the workflow tells.
enum class CliOutcome { Running, Completed, NothingToDo, Refused, NotConfirmed };

class CliView final : public WorkflowView {
public:
    CliView(const CommandLine& line, CliIo& io);

    bool ConfirmReadMe() override { return true; }  // confirmed with the summary
    // Named with --package: without it and without one beside the executable, the message says none is found.
    std::optional<std::string> ChoosePackage() override { return std::nullopt; }
    bool ConfirmProgramsToClose(const std::vector<std::string>& programs) override;
    std::optional<MonitorHandle> SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                               const std::string& model, const std::string& serial) override;
    bool ConfirmWarning(std::uint32_t minutes) override;
    void ShowMessage(const UserMessage& message) override;
    void ShowTitle(const std::string&) override {}
    void ShowCurrentVersion(const VersionLines& lines) override { current_ = lines; }
    void ShowNewVersion(const std::optional<VersionLines>& lines) override { new_ = lines; }
    void SetUpdateEnabled(bool enabled) override { updateEnabled_ = enabled; }
    void SetWaitCursor(bool) override {}
    void SetTimerRunning(bool) override {}
    void ShowProgress(const ProgressSnapshot& snapshot) override;
    void EndDialog() override;

    // A step the update thread has entered (MainWorkflow::SetStepObserver):
    // kept until this thread next prints, so that no step is missed between
    // the once-a-second snapshots. Safe from any thread.
    void QueueStep(const ProgressSnapshot& step);

    // The update's progress before it reports a plan: from the estimate.
    void ShowEstimate(std::uint32_t percent, std::uint32_t secondsLeft) {
        progress_.ShowEstimate(percent, secondsLeft);
    }
    // The workflow enabled the update: the package fits, or an interrupted update waits.
    bool UpdateEnabled() const { return updateEnabled_; }
    CliOutcome Outcome() const { return outcome_; }
    // The status of a refusal decided here or by the monitor selection.
    std::optional<Status> RefusalStatus() const { return refusal_; }
    // The last message shown, in the user's language.
    const std::string& LastMessage() const { return lastMessage_; }
    // The new version (when a package or record gave one) and the current one, as the window shows them.
    std::string NewVersion() const { return new_ ? new_->head + new_->tail : std::string(); }
    std::string CurrentVersion() const { return current_ ? current_->head + current_->tail : std::string(); }

    // Prints a message of quillon-cli's own with its status code, as a refusal.
    void Refuse(Status status, const std::string& text, CliOutcome outcome = CliOutcome::Refused);

private:
    std::string Text(TextId id, std::vector<MessageArgument> arguments = {}) const;
    void PrintSummary(std::uint32_t minutes);
    // One line a monitor on standard error: model and serial number, and with
    // `withDevices` the device that tells monitors of one identity apart.
    void PrintMonitorList(const std::vector<MonitorEntry>& entries, bool withDevices = false);
    void ShowQueuedSteps();

    const CommandLine& line_;
    CliIo& io_;
    ProgressOutput progress_;
    std::mutex stepsMutex_;  // the steps come from the update thread
    std::vector<ProgressSnapshot> queuedSteps_;
    std::vector<std::string> programs_;
    std::string model_, serial_;
    std::optional<VersionLines> current_, new_;
    bool updateEnabled_ = false;
    CliOutcome outcome_ = CliOutcome::Running;
    std::optional<Status> refusal_;
    std::string lastMessage_;
};

// quillon-cli's own refusals, beside the application's codes.
inline constexpr Status kCliNoMonitor = 0x800000C0;
inline constexpr Status kCliSeveralMonitors = 0x800000C1;
inline constexpr Status kCliNoMonitorWithSerial = 0x800000C2;
inline constexpr Status kCliOtherMonitorInterrupted = 0x800000C3;
inline constexpr Status kCliNotConfirmed = 0x800000C4;
inline constexpr Status kCliUpdateRunning = 0x800000C5;
inline constexpr Status kCliStopped = 0x800000C6;
inline constexpr Status kCliSeveralWithSerial = 0x800000C7;

// A catalogue text in `language`, formatted with `arguments`.
std::string LocalText(TextId id, Language language, const std::vector<MessageArgument>& arguments = {});
