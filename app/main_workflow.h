#pragma once
// The main window's workflow without its widgets: the start-up sequence, the
// file phase, the update button, the once-a-second tick with the automatic
// restarts of a failed update, and the exit path. The window implements
// WorkflowView and forwards its events here; tests drive it with a view of their own.
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/monitor_selection.h"
#include "app/run_log.h"
#include "app/sleep_inhibitor.h"
#include "app/status_message.h"
#include "app/system_journal.h"
#include "app/update_run.h"
#include "app/version_display.h"
#include "app/worker_threads.h"

// A failed update is started again up to this many times while the update
// still holds the monitor.
inline constexpr std::uint32_t kAutomaticRestarts = 3;
// Family words of every monitor the run may have opened.
inline constexpr std::uint32_t kAllRunFamilies = 0x20000001;

class WorkflowView {
public:
    virtual ~WorkflowView() = default;
    // The read-me dialog and the list of programs to be closed: true on OK.
    virtual bool ConfirmReadMe() = 0;
    virtual bool ConfirmProgramsToClose(const std::vector<std::string>& programs) = 0;
    // The monitor selection dialog over `selection`, which it starts with
    // Discover(mode, model, serial). The chosen monitor on OK (kNoMonitor
    // when none was chosen), nullopt on Cancel.
    virtual std::optional<MonitorHandle> SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                                       const std::string& model, const std::string& serial) = 0;
    // Asked when no package was named and none is beside the executable: the
    // package the user chooses, or nullopt (cancelled, or a view that cannot ask).
    virtual std::optional<std::string> ChoosePackage() = 0;
    // The warning dialog with its estimate: true on Execute.
    virtual bool ConfirmWarning(std::uint32_t minutes) = 0;
    virtual void ShowMessage(const UserMessage& message) = 0;

    virtual void ShowTitle(const std::string& title) = 0;
    virtual void ShowCurrentVersion(const VersionLines& lines) = 0;
    // The new version and its label; nullopt empties them.
    virtual void ShowNewVersion(const std::optional<VersionLines>& lines) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    // The once-a-second timer that calls MainWorkflow::Tick.
    virtual void SetTimerRunning(bool running) = 0;
    // The update's progress: the bar and the line under it. Before the update
    // has begun the snapshot is empty (no plan) and the bar stands at 0.
    virtual void ShowProgress(const ProgressSnapshot& progress) = 0;
    // The run is over: the window closes.
    virtual void EndDialog() = 0;
};

class MainWorkflow {
public:
    // `failures` gets one line for each failure message (app/failure_report.h).
    // `program` starts the lines written to `failures`.
    explicit MainWorkflow(WorkflowView& view, std::ostream& failures = std::cerr, std::string_view program = "quillon");
    ~MainWorkflow();
    MainWorkflow(const MainWorkflow&) = delete;
    MainWorkflow& operator=(const MainWorkflow&) = delete;

    // The start-up sequence, from the read-me to the start of the file phase
    // (or, for a resumed update, to the enabled update button).
    void Start();
    void PressUpdate();
    void Tick();
    // The exit path (Escape, the close box, the end of every run); refused,
    // with false, while a worker thread exists.
    bool Close();

    bool Ended() const { return ended_; }
    // The status of the failure message the run showed, if it showed one.
    std::optional<Status> ShownFailure() const { return shownFailure_; }
    // This run's log (app/run_log.h), opened once a monitor is selected; empty
    // before, and when no log could be written. Stays after Close().
    const std::string& RunLogPath() const;
    // Called on the update thread with each step the update enters, after the
    // run log has it (the command line's step lines). Set before Start().
    void SetStepObserver(std::function<void(const ProgressSnapshot&)> observer) { stepObserver_ = std::move(observer); }
    bool WorkerExists() const { return fileThread_ || updateThread_; }
    // The wait cursor shows while the package loads.
    bool FilePhaseRunning() const { return fileThread_ != nullptr; }
    // Blocks until the present worker thread has ended. For tests, which
    // would otherwise poll: the window only ever polls from its timer.
    void WaitForWorker();
    UpdateRun& Run() { return run_; }

private:
    bool StartUp();
    bool SelectMonitor();
    void ShowVersionDisplay();
    // Opens the run's log in its own state folder, has it take the update's steps,
    // and writes what is known of the run so far.
    void OpenRunLog();
    // Writes a line to the run's log, when there is one.
    void Log(const std::string& line);
    // The run's start, failures and result: the line goes to the run log, and
    // a copy to the system journal, tagged with the status when there is one.
    void Note(JournalPriority priority, const std::string& line, std::optional<Status> status = std::nullopt);
    // The one line on the failure stream about a log or a journal that could not be written.
    void ReportRunLogProblem();
    // A line on the failure stream (standard error), after the program's name.
    void SayOnFailureStream(const std::string& line);
    // Why a record found beside the executable was left there.
    std::string TakeOverProblemLine() const;
    bool Resuming() const;
    // The inhibitor lock, from the monitor's first change until the update has
    // ended; without logind, one line on the failure stream and in the log says so.
    void BlockSleep();
    void AllowSleep();
    void StartFilePhase();
    void StartUpdateThread();
    void FinishFilePhase();
    void FinishUpdatePhase();
    // The cause is this thread's noted system failure, or the one a worker handed over.
    void ShowStatus(Status status);
    void ShowStatus(Status status, const std::optional<SystemFailure>& cause, std::string_view detail = {});

    WorkflowView& view_;
    std::ostream& failures_;
    std::string program_;
    SystemJournal journal_;
    UpdateRun run_;
    // Before the worker threads: the update thread writes its steps here until it is joined.
    std::unique_ptr<RunLog> log_;
    // Before the worker threads too: a workflow destroyed while the update writes
    // keeps the machine awake until the update thread is joined.
    std::optional<SleepInhibitor> sleepInhibitor_;
    std::function<void(const ProgressSnapshot&)> stepObserver_;
    std::unique_ptr<PackageCheckThread> fileThread_;
    std::unique_ptr<UpdateThread> updateThread_;
    bool ended_ = false;
    std::optional<Status> shownFailure_;
    // The run log's last line, once the run has an outcome; empty: the user ended it.
    std::string result_;
    JournalPriority resultPriority_ = JournalPriority::Info;
    std::optional<Status> resultStatus_;
};

// The package files beside the executable ("*.vfw", any case of the extension), by name.
std::vector<std::string> PackageFiles(const std::string& folder);
