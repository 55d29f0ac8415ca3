#include "update/update_context.h"

#include <cstring>

#include "common/executable_dir.h"
#include "update/update_status.h"

namespace {

constexpr char kBackupFileName[] = ".backup";

std::string BackupPath(const UpdateContext& c) {
    return c.backupPath.empty() ? ExecutableDirectory().value_or("") + kBackupFileName : c.backupPath;
}

}  // namespace

Status LoadUpdateContext(UpdateContext& c) { return PkgReadBackupValues(c.record, c); }

Status SaveBackupFile(const UpdateContext& c) { return PkgSaveFile(c.record, BackupPath(c).c_str()); }

Status ReturnToFirstStage(UpdateContext& c, Status why) {
    const Status status = PkgEditBackupRecord(c.record, BackupPath(c), c, [](BackupValues& v) {
        v.stage = kStageNew;
        v.loaderFlag = 0;  // the monitor runs its firmware again
    });
    return IsFailure(status) ? status : why;
}

Status SaveLoaderFlag(UpdateContext& c, std::uint32_t loaderFlag) {
    return PkgEditBackupRecord(c.record, BackupPath(c), c, [loaderFlag](BackupValues& v) { v.loaderFlag = loaderFlag; });
}

Status ChangeStage(UpdateContext& c, std::int32_t stage) {
    // On failure the record keeps the stage the file holds, so that a retry in
    // this process resumes where a later start would.
    return PkgEditBackupRecord(c.record, BackupPath(c), c, [stage](BackupValues& v) { v.stage = stage; });
}

Status BeginSequence(UpdateContext& c, MonitorHandle monitor, PackageHandle package, PackageHandle record) {
    if (monitor == kNoMonitor || record == kNoPackageHandle) return kUpdBadArgument;
    c.monitor = monitor;
    if (package != kNoPackageHandle) c.package = package;
    c.record = record;
    return LoadUpdateContext(c);
}
