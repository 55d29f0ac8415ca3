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
    // Where the package file is searched and the backup file lives; empty: the
    // executable's directory (tests point it elsewhere). Ends in "/".
    std::string folder;
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

// The folder of the package and backup files; kAppNoExecutablePath when the
// executable's own path cannot be read.
Status RunFolder(const UpdateRun& run, std::string& folder);

// Loads the backup file when there is one and takes the monitor's identity,
// version and loader flag from it. A file that fails its checksum, or whose record
// is out of shape, may still be the only copy of the settings an update switched
// off: it is kept beside itself under a new name (keptBackupPath), and the run
// goes on as if there had been none.
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
// settings the update switches off, writes the backup file, then switches
// those settings off.
Status MakeBackupRecord(UpdateRun& run);
// Writes two zero bytes to the control lock; kMonUnavailable without it,
// kMonTransferFailed when the write fails.
Status ReleaseControlLock(MonitorHandle monitor);
// When nothing has been written to the monitor: puts the saved settings back
// and deletes the backup file once they are back. Failures keep the file, so
// the next start puts them back.
void RestoreMonitorSettings(UpdateRun& run);
