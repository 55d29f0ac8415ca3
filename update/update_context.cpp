#include "update/update_context.h"

#include <cstring>

#include "update/update_status.h"


Status LoadUpdateContext(UpdateContext& c) { return PkgReadBackupValues(c.record, c); }

Status SaveBackupFile(const UpdateContext& c) { return PkgSaveFile(c.record, c.backupPath.c_str()); }

Status ReturnToFirstStage(UpdateContext& c, Status why) {
    const Status status = PkgEditBackupRecord(c.record, c.backupPath, c, [](BackupValues& v) {
        v.stage = kStageNew;
        v.loaderFlag = 0;  // the monitor runs its firmware again
    });
    return IsFailure(status) ? status : why;
}

Status SaveLoaderFlag(UpdateContext& c, std::uint32_t loaderFlag) {
    return PkgEditBackupRecord(c.record, c.backupPath, c, [loaderFlag](BackupValues& v) { v.loaderFlag = loaderFlag; });
}

Status ChangeStage(UpdateContext& c, std::int32_t stage) {
    // On failure the record keeps the stage the file holds, so that a retry in
    // this process resumes where a later start would.
    return PkgEditBackupRecord(c.record, c.backupPath, c, [stage](BackupValues& v) { v.stage = stage; });
}

Status BeginSequence(UpdateContext& c, MonitorHandle monitor, PackageHandle package, PackageHandle record) {
    // The record is rewritten at every stage: without its file, none could be resumed.
    if (monitor == kNoMonitor || record == kNoPackageHandle || c.backupPath.empty()) return kUpdBadArgument;
    c.monitor = monitor;
    if (package != kNoPackageHandle) c.package = package;
    c.record = record;
    return LoadUpdateContext(c);
}
