#include "app/main_workflow.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "app/failure_report.h"
#include "app/run_log_lines.h"
#include "app/update_estimate.h"
#include "common/display_text.h"
#include "conflict/running_program.h"
#include "monitor/command_usages.h"
#include "monitor/component_transfer.h"
#include "monitor/discovery.h"
#include "package/pkg.h"

namespace {

constexpr std::string_view kPackageExtension = ".vfw";

bool HasPackageExtension(const std::string& name) {
    if (name.size() <= kPackageExtension.size()) return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - kPackageExtension.size());
    return std::equal(tail.begin(), tail.end(), kPackageExtension.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

std::optional<std::string> PackageText(PackageHandle package, PkgPropertyId id) {
    std::array<char, 26> text{};
    if (IsFailure(PkgGetProperty(package, id, text.data(), text.size()))) return std::nullopt;
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

std::optional<std::string> PackageVersion(PackageHandle package) { return PackageText(package, kPropVersion); }

}  // namespace

std::vector<std::string> PackageFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (HasPackageExtension(name) && entry.is_regular_file(error)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

MainWorkflow::MainWorkflow(WorkflowView& view, std::ostream& failures, std::string_view program)
    : view_(view), failures_(failures), program_(program), journal_(program_) {
    // Each step of the update as the update thread enters it. The log is opened
    // on this thread before any update thread starts.
    run_.progress.SetStepListener([this](const ProgressSnapshot& step) {
        if (log_) log_->Write(LogStepText(step));
        if (stepObserver_) stepObserver_(step);
    });
}

MainWorkflow::~MainWorkflow() = default;

void MainWorkflow::ShowStatus(Status status) { ShowStatus(status, TakeSystemFailure()); }

void MainWorkflow::ShowStatus(Status status, const std::optional<SystemFailure>& cause,
                              std::string_view detail) {
    shownFailure_ = status;
    ReportFailure(failures_, status, cause, program_);
    // The recorded monitor; before there is a record, the one chosen.
    const bool recorded = !run_.record.identity.model.empty();
    UserMessage message = StatusMessage(status, recorded ? run_.record.identity.model : run_.target.modelName,
                                        recorded ? run_.record.identity.serial : run_.target.serialNumber, detail);
    // Every message shown here ends the run: the user's click is no reason to stay awake.
    AllowSleep();
    if (log_) {
        const bool failed = message.icon == MessageIcon::Error;
        std::string line = (failed ? "failed" : "stopped") + AtStepText(run_.progress.Snapshot()) + ": " +
                           StatusText(status, cause);
        if (status == kAppProgramNotClosed && !detail.empty()) line += ", " + std::string(detail) + " still runs";
        if (status == kAppSameIdentityTwice) line += ", presented by " + std::string(detail);
        Note(failed ? JournalPriority::Error : JournalPriority::Notice,
             line + "; message " + std::to_string(message.text) + " shown", status);
        result_ = (failed ? "result: failed with " : "result: ended with ") + StatusText(status, cause);
        resultPriority_ = failed ? JournalPriority::Error : JournalPriority::Notice;
        resultStatus_ = status;
        if (failed) message.runLogPath = log_->Path();
    }
    view_.ShowMessage(message);
}

const std::string& MainWorkflow::RunLogPath() const {
    static const std::string kNone;
    return log_ ? log_->Path() : kNone;
}

void MainWorkflow::Log(const std::string& line) {
    if (log_) log_->Write(line);
}

void MainWorkflow::Note(JournalPriority priority, const std::string& line, std::optional<Status> status) {
    Log(line);
    if (log_) journal_.Send({priority, line, status, log_->Path()});
}

void MainWorkflow::ReportRunLogProblem() {
    if (!log_) return;
    if (const std::optional<SystemFailure> problem = log_->TakeProblem()) {
        SayOnFailureStream("the run log cannot be written: " + problem->Text());
    }
    if (const std::optional<SystemFailure> problem = journal_.TakeProblem()) {
        SayOnFailureStream("the system journal cannot be written: " + problem->Text());
    }
}

void MainWorkflow::SayOnFailureStream(const std::string& line) {
    failures_ << program_ << ": " << line << "\n";
    failures_.flush();
}

std::string MainWorkflow::TakeOverProblemLine() const {
    return "the record of an interrupted update stays at " + run_.record.filePath +
           ", it could not be moved into the state folder: " + run_.takeOverProblem->Text();
}

void MainWorkflow::OpenRunLog() {
    log_ = std::make_unique<RunLog>(RunStateFolders(run_).own);
    ReportRunLogProblem();
    Note(JournalPriority::Info,
         std::string("quillon ") + QUILLON_VERSION + " (" + program_ + ", process " + std::to_string(::getpid()) + ")");
    // Known here only when a backup file named the monitor; the identity read
    // from the monitor follows once the run has its backup record.
    const TargetMonitor& target = run_.target;
    Log(target.modelName.empty() ? std::string("monitor selected")
                                 : "monitor selected: " + target.modelName + " S/N " + target.serialNumber);
    if (!run_.takenOverFrom.empty())
        Log("the record of the interrupted update was moved from " + run_.takenOverFrom + " to " + run_.record.filePath);
    if (run_.takeOverProblem) Log(TakeOverProblemLine());
}

void MainWorkflow::Start() {
    view_.SetUpdateEnabled(false);
    view_.ShowProgress(ProgressSnapshot{});
    if (!StartUp()) {
        Close();
        return;
    }
    ShowVersionDisplay();
    StartFilePhase();
}

bool MainWorkflow::StartUp() {
    if (!view_.ConfirmReadMe()) return false;

    std::vector<std::string> listed;
    for (const RunningProgram& program : ListRunningPrograms())
        if (!program.program.hiddenFromList) listed.push_back(program.program.displayName);
    // Nothing is closed yet: the update thread closes the programs.
    if (!listed.empty() && !view_.ConfirmProgramsToClose(listed)) return false;

    // Counted in every run, a resumed one too.
    std::string folder;
    if (const Status status = PackageFolder(run_, folder); IsFailure(status)) {
        ShowStatus(status);
        return false;
    }
    // A package named on the command line stands for the one beside the executable.
    // One that is there but no regular file (a FIFO) is refused when it is read: it cannot be read, not missing.
    std::size_t packages = run_.packagePath.empty() ? PackageFiles(folder).size() : 1;
    // Installed, the executable's folder holds no package: the user names one.
    if (packages == 0) {
        if (std::optional<std::string> chosen = view_.ChoosePackage()) run_.packagePath = std::move(*chosen);
    }
    std::error_code error;
    if (!run_.packagePath.empty()) packages = std::filesystem::exists(run_.packagePath, error) ? 1 : 0;
    if (packages != 1) {
        ShowStatus(packages == 0 ? kAppNoPackageFile : kAppSeveralPackageFiles);
        return false;
    }

    if (const Status status = LoadBackupFile(run_); IsFailure(status)) {
        ShowStatus(status);
        return false;
    }
    if (run_.takeOverProblem) {
        SayOnFailureStream(TakeOverProblemLine());
    }
    // Said once: the next start finds no damaged file under the backup file's name.
    if (!run_.keptBackupPath.empty())
        view_.ShowMessage({text_id::kDamagedBackupKept, {run_.keptBackupPath}, MessageIcon::Information});

    if (!SelectMonitor()) return false;
    OpenRunLog();
    if (!run_.backupFound) {
        std::string devices;
        if (const Status status = CheckTargetIdentity(run_.target, devices); IsFailure(status)) {
            const MonitorIdentity identity = ReadMonitorEntry(run_.target.monitorHandle).identity;
            run_.target.modelName = identity.model;
            run_.target.serialNumber = identity.serial;
            ShowStatus(status, std::nullopt, devices);
            return false;
        }
    }
    // From here on the monitor is changed (locked, its settings switched off,
    // or its interrupted update taken up): sleep would leave it so.
    BlockSleep();
    if (const Status status = PrepareMonitor(run_.target); IsFailure(status)) {
        ShowStatus(status);
        return false;
    }
    if (!run_.backupFound) {
        if (const Status status = MakeBackupRecord(run_); IsFailure(status)) {
            ShowStatus(status);
            return false;
        }
    } else {
        const std::string recorded = run_.record.currentVersion;
        if (const Status status = RefreshRecordedVersion(run_); IsFailure(status)) {
            ShowStatus(status);
            return false;
        }
        if (run_.record.currentVersion != recorded)
            Log("the monitor runs " + run_.record.currentVersion + ", not " + recorded +
                " as the record made before said; the record now says so");
    }
    return true;
}

bool MainWorkflow::SelectMonitor() {
    MonitorSelection selection(run_.record.identity.model, run_.record.identity.serial);
    selection.SetRecordFolders(RecordFolders(run_));
    TargetMonitor& target = run_.target;
    const std::optional<MonitorHandle> chosen =
        view_.SelectMonitor(selection, target.loaderFlag, target.modelName, target.serialNumber);
    if (!chosen) return false;
    if (*chosen != kNoMonitor) target.monitorHandle = *chosen;

    // The loader flag follows what the recorded monitor presents now: one that
    // lost power in its update state waits there, though the backup file was
    // written before it got there, and one the update restarted into its
    // firmware runs again. The update reads the flag from the record.
    const std::uint32_t flag = selection.ChosenLoaderFlag();
    if (run_.backupFound && flag != target.loaderFlag) {
        target.loaderFlag = run_.record.loaderFlag = flag;
        PkgSetProperty(run_.record.recordHandle, kPropLoaderFlag, &flag, sizeof flag);
    }
    return true;
}

void MainWorkflow::BlockSleep() {
    if (sleepInhibitor_) return;
    sleepInhibitor_.emplace(program_);
    if (sleepInhibitor_->Held()) {
        Log("sleep, shutdown, idle and the lid switch are blocked until the update has ended");
        return;
    }
    if (const std::optional<std::string>& problem = sleepInhibitor_->Problem()) {
        const std::string line = "sleep cannot be blocked during this update: " + *problem;
        Log(line);
        SayOnFailureStream(line);
    }
}

void MainWorkflow::AllowSleep() {
    if (sleepInhibitor_ && sleepInhibitor_->Held()) Log("sleep is allowed again");
    sleepInhibitor_.reset();
}

bool MainWorkflow::Resuming() const { return run_.backupFound && run_.record.stage != kStageNothingWritten; }

void MainWorkflow::ShowVersionDisplay() {
    TargetMonitor& target = run_.target;
    view_.ShowTitle(DisplayText(target.ModelName()) + " (S/N:" + DisplayText(target.SerialNumber()) + ")");
    const std::string& current = run_.record.currentVersion;
    view_.ShowCurrentVersion({FormatVersionHead(current), FormatVersionTail(current)});
    Log("monitor: " + target.ModelName() + " S/N " + target.SerialNumber() + ", firmware before the update " +
        current + (target.loaderFlag != 0 ? ", waiting in its update mode" : ""));
    if (Resuming())
        Log("resuming the interrupted update recorded in " + run_.record.filePath + " at stage " +
            std::to_string(run_.record.stage) + ", to firmware " + run_.record.targetVersion);
    else
        Log("backup file: " + run_.record.filePath);
    if (Resuming()) {
        view_.ShowNewVersion(MergedVersionLines(run_.record.targetVersion, current));
        view_.SetUpdateEnabled(true);
    }
}

void MainWorkflow::StartFilePhase() {
    if (Resuming()) return;  // a resumed update needs no package file
    std::string folder;
    PackageFolder(run_, folder);
    const std::vector<std::string> packages = PackageFiles(folder);
    std::string path = packages.empty() ? std::string() : folder + packages.front();
    if (!run_.packagePath.empty()) path = run_.packagePath;
    if (fileThread_) return;
    Log("package file: " + path);
    view_.SetWaitCursor(true);
    view_.SetUpdateEnabled(false);
    fileThread_ = std::make_unique<PackageCheckThread>(run_, path);
    fileThread_->Start();
    view_.SetTimerRunning(true);
}

void MainWorkflow::WaitForWorker() {
    if (fileThread_) fileThread_->WaitUntilEnded();
    if (updateThread_) updateThread_->WaitUntilEnded();
}

void MainWorkflow::PressUpdate() {
    view_.SetUpdateEnabled(false);
    const ComponentDescriptors descriptors = run_.selectedPackage != kNoPackageHandle
                                                 ? PackageDescriptors(run_.selectedPackage)
                                                 : FirmwareComponents(run_.record);
    const std::uint32_t minutes = EstimateUpdateMinutes(descriptors);
    if (!view_.ConfirmWarning(minutes)) {
        Log("the warning was not confirmed");
        view_.SetUpdateEnabled(true);
        return;
    }
    if (updateThread_) return;
    Log("update started, estimated at " + std::to_string(minutes) + " min");
    run_.retryCount = 0;
    StartUpdateThread();
}

void MainWorkflow::StartUpdateThread() {
    updateThread_ = std::make_unique<UpdateThread>();
    updateThread_->Start(run_);
    view_.SetTimerRunning(true);
    view_.SetUpdateEnabled(false);
}

void MainWorkflow::Tick() {
    if (fileThread_ && fileThread_->HasEnded()) {
        FinishFilePhase();
        return;
    }
    if (updateThread_) {
        if (!updateThread_->HasEnded()) {
            view_.ShowProgress(run_.progress.Snapshot());
            return;
        }
        FinishUpdatePhase();
    }
}

void MainWorkflow::FinishFilePhase() {
    fileThread_.reset();
    view_.SetTimerRunning(false);
    view_.SetWaitCursor(false);
    if (run_.fileStatus != kStatusSuccess) {
        ShowStatus(run_.fileStatus, run_.workerFailure);
        view_.ShowNewVersion(std::nullopt);
        Close();
        return;
    }
    const std::optional<std::string> version = PackageVersion(run_.selectedPackage);
    const std::string& current = run_.target.CurrentVersion(true);
    // A firmware set's key is the version it updates.
    const std::optional<std::string> key = PackageText(run_.selectedPackage, kPropKeyOrCurrent);
    Log("package: version " + version.value_or("(unreadable)") + ", firmware set for " +
        key.value_or("(unreadable)") + "; the monitor reports " + current);
    view_.ShowNewVersion(version ? MergedVersionLines(*version, current) : VersionLines{});
    view_.SetUpdateEnabled(true);
}

void MainWorkflow::FinishUpdatePhase() {
    // The update may have restarted the monitor: its result holds the monitor's present handle.
    const UpdateResult result = updateThread_->Result();
    updateThread_.reset();
    for (const std::string& program : result.programsLeftRunning) {
        const std::string line = program + " could not be closed and ran beside the update";
        Log(line);
        SayOnFailureStream(line);
    }
    view_.SetTimerRunning(false);
    const MonitorHandle monitor = result.monitor;
    run_.target.monitorHandle = monitor;
    Status status = result.status;
    if (monitor != kNoMonitor) {
        // The user is told the update completed only once the lock is released:
        // a monitor that stops answering here is reported as any failure, and the
        // backup file (at its last stage) stays for the next start to finish.
        if (IsOlderProtocolMonitor(monitor) && MonitorHasUsage(monitor, command_usage::kControlLock)) {
            const Status released = ReleaseControlLock(monitor);
            if (status == kStatusSuccess && IsFailure(released)) status = released;
        }
        ReadBackupRecord(run_.record);
        if (status == kStatusSuccess) {
            // The update has checked this version against the monitor's.
            Log("firmware after the update " + ExpectedVersion(run_.record.targetVersion, run_.record.currentVersion));
            Log("update completed");
            result_ = "result: completed";
            resultPriority_ = JournalPriority::Info;
            resultStatus_ = kStatusSuccess;
            std::error_code ignored;
            std::filesystem::remove(run_.record.filePath, ignored);
            run_.progress.Complete();
            view_.ShowProgress(run_.progress.Snapshot());
            AllowSleep();
            const VersionLines lines = MergedVersionLines(run_.record.targetVersion, run_.record.currentVersion);
            view_.ShowMessage({text_id::kComplete, {lines.head, lines.tail}, MessageIcon::Information,
                               MessageCaption::ExecutableName});
            Close();
            return;
        }
        // A program that could not be closed would refuse again, and a package that
        // cannot update the monitor (no set for it, or a component larger than its
        // area) cannot do so on a restart either: no restart.
        const bool repeatable =
            status != kAppProgramNotClosed && status != kPkgNoMatchingSet && status != kMonGeometryMismatch;
        if (repeatable && run_.retryCount < kAutomaticRestarts) {
            ++run_.retryCount;
            Note(JournalPriority::Warning,
                 "update failed" + AtStepText(run_.progress.Snapshot()) + ": " + StatusText(status, result.failure) +
                     "; starting it again (" + std::to_string(run_.retryCount) + " of " +
                     std::to_string(kAutomaticRestarts) + ")",
                 status);
            StartUpdateThread();
            return;
        }
    }
    ShowStatus(status, result.failure, result.programNotClosed);
    Close();
}

bool MainWorkflow::Close() {
    if (WorkerExists()) return false;
    if (ended_) return true;
    RestoreMonitorSettings(run_);
    AllowSleep();
    for (const RunningProgram& program : run_.closedPrograms) {
        Log("starting " + program.program.displayName + " again");
        program.RestartProgram();
    }
    run_.closedPrograms.clear();
    if (result_.empty()) Note(JournalPriority::Notice, "result: ended by the user");
    else Note(resultPriority_, result_, resultStatus_);
    ReportRunLogProblem();
    PkgCloseAll();
    MonCloseDevices(kAllRunFamilies);
    ended_ = true;
    view_.EndDialog();
    return true;
}
