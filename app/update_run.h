#pragma once
// Everything one run of the updater keeps about its update: the target
// monitor, the run's copy of the backup record, the package chosen for the
// monitor, the file thread's result and the programs the update closed. The
// window owns one; the operations below and the worker threads work on it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_status.h"
#include "app/backup_record.h"
#include "app/state_folder.h"
#include "app/target_monitor.h"
#include "conflict/running_program.h"
#include "common/monitor_identity.h"
#include "common/system_failure.h"
#include "package/pkg.h"
#include "update/progress_tracker.h"

inline constexpr char kBackupFileName[] = ".backup";

struct UpdateRun {
    TargetMonitor target;
    RunBackupRecord record;
    PackageHandle selectedPackage = kNoPackageHandle;  // stays 0 when an update is resumed
    bool backupFound = false;
    // Where a backup file that could not be read was kept; empty when none was.
    std::string keptBackupPath;
    Status fileStatus = kAppFailed;
    std::optional<SystemFailure> workerFailure;  // the failed call behind the package check's status
    std::uint32_t retryCount = 0;
    // The folder beside the executable: where the package file is looked for, and
    // where the portable layout and earlier versions kept the backup record.
    // Empty: the executable's own folder (tests point it elsewhere). Ends in "/".
    std::string packageFolder;
    // Where the run keeps its backup record and run log, and looks for a record
    // first; unset: those of the process (tests set them).
    std::optional<StateFolders> stateFolders;
    // A record found beside the executable that could not be taken over into the
    // state folder: why. The run goes on with the record where it is.
    std::optional<SystemFailure> takeOverProblem;
    // Where the record found beside the executable was before it was taken over; empty when none was.
    std::string takenOverFrom;
    // The package file to use instead of the one beside the executable; empty:
    // that one (quillon-cli's --package).
    std::string packagePath;
    // The programs the update thread closed; the exit path, which runs only
    // once no worker is left, starts them again.
    std::vector<RunningProgram> closedPrograms;
    // The update's progress, kept across the automatic restarts so that the bar
    // never goes back; the update thread reports into it, the window reads it.
    ProgressTracker progress;
};

// The folder of the package file; kAppNoExecutablePath when the executable's
// own path cannot be read.
Status PackageFolder(const UpdateRun& run, std::string& folder);
// The run's state folders: those set, else the process's (fixed at the first call).
const StateFolders& RunStateFolders(UpdateRun& run);
// Where a backup record is looked for, in this order: the run's own state
// folder; run through sudo, the invoking user's; the folder beside the
// executable (`packageFolder`, empty when unknown). No folder twice, none ending in "/".
std::vector<std::string> RecordFolders(const StateFolders& state, const std::string& packageFolder);
std::vector<std::string> RecordFolders(UpdateRun& run);
// The backup file's path in `folder`.
std::string RecordPath(const std::string& folder);
// The first backup file in these folders; whatever is under its name counts (a
// link or a FIFO too, to be refused when read). nullopt when there is none.
std::optional<std::string> FirstRecordFile(const std::vector<std::string>& folders);

// Loads the first backup file found in RecordFolders() and takes the monitor's
// identity, version and loader flag from it. Whatever is under the file's name
// counts: a link, a FIFO or a device is refused (kPkgCannotOpen) and left alone.
// A file that fails its checksum, or whose record is out of shape, may still be
// the only copy of the settings an update switched off: it is kept beside itself
// under a new name (keptBackupPath), and the search goes on as if it had not
// been there. A record found beside the executable is taken over: moved into
// the run's own state folder (never a moment without a copy), and the run goes
// on with it there. A record in the invoking user's folder is resumed where it
// is and stays that user's. A copy beside the executable equal to the record
// found first (a take-over cut short) is removed.
Status LoadBackupFile(UpdateRun& run);
// A record that an earlier run made and left before writing anything holds the
// version the monitor ran then. When the monitor now runs another (updated by
// other means since), the record takes the present version and is saved again,
// so that the firmware set is chosen for what the monitor runs. Records of
// updates that have begun, and monitors waiting in an update, are left alone.
// A version that cannot be read where the monitor has one ends the run.
Status RefreshRecordedVersion(UpdateRun& run);
// Takes the control lock of an older-protocol monitor that has one (clearing
// its busy flag first); kMonLockRefused-style statuses pass up unchanged.
Status PrepareMonitor(const TargetMonitor& target);
// Before anything is written to a monitor chosen for a fresh update: its identity
// must fit the backup record exactly (kAppIdentityNotRecordable) and no other
// connected monitor may present it (kAppSameIdentityTwice, with the devices that
// do in `devices`). An identity that cannot be read is left to MakeBackupRecord.
Status CheckTargetIdentity(const TargetMonitor& target, std::string& devices);
// Whether the backup record holds this identity exactly.
bool RecordHoldsIdentity(const MonitorIdentity& identity);
// Records the monitor's identity, version and (older-protocol monitors) the
// settings the update switches off, writes the backup file into the run's own
// state folder (made, 0700, when missing), then switches those settings off.
Status MakeBackupRecord(UpdateRun& run);
// Writes two zero bytes to the control lock; kMonUnavailable without it,
// kMonTransferFailed when the write fails.
Status ReleaseControlLock(MonitorHandle monitor);
// When nothing has been written to the monitor: puts the saved settings back
// and deletes the backup file once they are back. Failures keep the file, so
// the next start puts them back.
void RestoreMonitorSettings(UpdateRun& run);
