// The operations on the run's two records: loading and making the backup
// record, preparing an older-protocol monitor, and putting it back as it was.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/update_run.h"

#include "app/monitor_selection.h"
#include "app/record_file_move.h"
#include "common/executable_dir.h"
#include "common/system_failure.h"
#include "monitor/command_usages.h"
#include "monitor/control_lock.h"
#include "monitor/monitor_status.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "monitor/transactions.h"

namespace {

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

void DeleteFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Moves `path` to a name of its own beside it, "<path>.damaged-YYYYMMDD-HHMMSS"
// (with "-2", "-3", ... when taken), never replacing a file; the new path, or
// nothing when the file could not be moved.
std::optional<std::string> KeepDamagedFile(const std::string& path) {
    std::array<char, 32> stamp{};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr ||
        std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &local) == 0)
        return std::nullopt;
    const std::string base = path + ".damaged-" + stamp.data();
    for (int n = 1; n < 100; ++n) {
        const std::string kept = n == 1 ? base : base + "-" + std::to_string(n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) == 0) return kept;
        if (errno == EEXIST) continue;
        // A file system without the no-replace rename: a hard link never replaces either.
        if (errno != EINVAL && errno != ENOSYS) break;
        if (::link(path.c_str(), kept.c_str()) == 0) {
            ::unlink(path.c_str());
            return kept;
        }
        if (errno != EEXIST) break;
    }
    NoteSystemFailure("keep damaged " + path, errno);
    return std::nullopt;
}


}  // namespace

Status PackageFolder(const UpdateRun& run, std::string& folder) {
    if (!run.packageFolder.empty()) {
        folder = run.packageFolder;
        return kStatusSuccess;
    }
    const std::optional<std::string> directory = ExecutableDirectory();
    if (!directory || directory->empty()) return kAppNoExecutablePath;
    folder = *directory;
    return kStatusSuccess;
}

const StateFolders& RunStateFolders(UpdateRun& run) {
    if (!run.stateFolders) run.stateFolders = StateFoldersFor(StateEnvironment::OfProcess());
    return *run.stateFolders;
}

std::vector<std::string> RecordFolders(const StateFolders& state, const std::string& packageFolder) {
    std::vector<std::string> folders;
    for (const std::string& folder : {state.own, state.invokingUser, packageFolder}) {
        const std::string normal = WithoutTrailingSlash(folder);
        if (!normal.empty() && std::find(folders.begin(), folders.end(), normal) == folders.end())
            folders.push_back(normal);
    }
    return folders;
}

std::vector<std::string> RecordFolders(UpdateRun& run) {
    std::string beside;
    if (IsFailure(PackageFolder(run, beside))) beside.clear();
    return RecordFolders(RunStateFolders(run), beside);
}

std::optional<std::string> FirstRecordFile(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        std::string path = RecordPath(folder);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) return path;
    }
    return std::nullopt;
}

namespace {

// Loads the backup file at `path`, which exists. A damaged one is kept aside
// and backupFound stays false.
Status LoadBackupFileAt(UpdateRun& run, const std::string& path) {
    run.backupFound = true;
    PackageHandle handle = kNoPackageHandle;
    // A FIFO, a device or a link in the file's place cannot be opened
    // (kPkgCannotOpen): refused, and never moved aside as damaged.
    Status status = PkgLoadFile(path.c_str(), &handle, FileLinks::Refuse);
    // Damaged: the checksum fails, or the record is out of shape (kPkgInvalid:
    // a value out of range, a version text that is not five whole fields).
    if (status == kPkgBadChecksum || status == kPkgInvalid) {
        if (std::optional<std::string> kept = KeepDamagedFile(path)) run.keptBackupPath = std::move(*kept);
        run.backupFound = false;
        return kStatusSuccess;
    }
    if (!IsFailure(status)) {
        run.record.recordHandle = handle;
        run.record.filePath = path;
        status = ReadBackupRecord(run.record);
    }
    return status;
}

// Moves the record found beside the executable into the run's own state folder;
// when it cannot, the run goes on with it where it is and says why.
void TakeOverRecord(UpdateRun& run) {
    const std::string own = WithoutTrailingSlash(RunStateFolders(run).own);
    if (own.empty()) {
        run.takeOverProblem = SystemFailure{"take over " + run.record.filePath + " (no state folder)", ENOENT};
        return;
    }
    std::string failedAt;
    if (const int error = MakeStateFolder(own, failedAt); error != 0) {
        run.takeOverProblem = SystemFailure{"mkdir " + failedAt, error};
        return;
    }
    const std::string to = RecordPath(own);
    if (std::optional<SystemFailure> failure = MoveRecordFile(run.record.filePath, to)) {
        run.takeOverProblem = std::move(failure);
        return;
    }
    run.takenOverFrom = std::exchange(run.record.filePath, to);
}

}  // namespace

std::string RecordPath(const std::string& folder) { return WithoutTrailingSlash(folder) + "/" + kBackupFileName; }

Status LoadBackupFile(UpdateRun& run) {
    const std::vector<std::string> folders = RecordFolders(run);
    std::string beside;
    if (!IsFailure(PackageFolder(run, beside))) beside = WithoutTrailingSlash(beside);
    // A state folder beside the executable is the state folder.
    if (beside == WithoutTrailingSlash(RunStateFolders(run).own)) beside.clear();
    for (const std::string& folder : folders) {
        // Whatever is under the name counts, a link too: it is refused, never followed.
        const std::optional<std::string> found = FirstRecordFile({folder});
        if (!found) continue;
        const std::string& path = *found;
        if (const Status status = LoadBackupFileAt(run, path); IsFailure(status)) return status;
        if (!run.backupFound) continue;  // damaged, and kept aside

        if (folder == beside) {
            TakeOverRecord(run);
        } else if (!beside.empty() && SameRegularFileContents(RecordPath(beside), path)) {
            // A take-over cut short between the copy and the removal: the copy is this record.
            DeleteFile(RecordPath(beside));
        }
        run.target.loaderFlag = run.record.loaderFlag;
        run.target.modelName = run.record.identity.model;
        run.target.serialNumber = run.record.identity.serial;
        run.target.currentVersion = run.record.currentVersion;
        return kStatusSuccess;
    }
    return kStatusSuccess;
}

Status RefreshRecordedVersion(UpdateRun& run) {
    RunBackupRecord& r = run.record;
    TargetMonitor& target = run.target;
    if (!run.backupFound || r.stage != kStageNothingWritten || target.loaderFlag != 0) return kStatusSuccess;
    const Status read = target.RefreshCurrentVersion();
    if (IsFailure(read)) {
        target.currentVersion = r.currentVersion;
        return MonitorHasUsage(target.monitorHandle, command_usage::kVersionRecord) ? read : kStatusSuccess;
    }
    if (target.currentVersion == r.currentVersion) return kStatusSuccess;
    const std::string present = target.currentVersion;
    const Status saved =
        PkgEditBackupRecord(r.recordHandle, r.filePath, r, [&present](BackupValues& v) { v.currentVersion = present; });
    // When it cannot be saved, the file, the record and the run keep the earlier version.
    if (IsFailure(saved)) target.currentVersion = r.currentVersion;
    return saved;
}

bool RecordHoldsIdentity(const MonitorIdentity& identity) {
    BackupValues values;
    values.identity = identity;
    BackupInfo ignored;
    return !IsFailure(ToBackupInfo(values, ignored));
}

Status CheckTargetIdentity(const TargetMonitor& target, std::string& devices) {
    const MonitorIdentity identity = ReadMonitorEntry(target.monitorHandle).identity;
    if (!identity.Known()) return kStatusSuccess;
    if (!RecordHoldsIdentity(identity)) return kAppIdentityNotRecordable;
    const std::vector<std::string> twins = DevicesWithIdentity(identity);
    if (twins.size() < 2) return kStatusSuccess;
    devices = JoinDevices(twins);
    return kAppSameIdentityTwice;
}

Status PrepareMonitor(const TargetMonitor& target) {
    const MonitorHandle monitor = target.monitorHandle;
    if (!IsOlderProtocolMonitor(monitor) || !MonitorHasUsage(monitor, command_usage::kControlLock))
        return kStatusSuccess;
    if (MonitorHasUsage(monitor, command_usage::kBusyFlag)) {
        if (const Status status = MonClearBusyFlag(monitor); IsFailure(status)) return status;
    }
    std::uint8_t mode = kLockModeNone;
    if (const Status status = MonGetLockMode(monitor, &mode); IsFailure(status)) return status;
    return MonAcquireControlLock(monitor, mode);
}

namespace {

// A setting the monitor lacks is recorded as 0. One it has but does not
// answer for ends the run: recorded as 0, it would be put back as 0.
template <typename T, typename Read>
Status ReadSavedSetting(MonitorHandle monitor, Read read, T& value) {
    value = 0;
    const Status status = read(monitor, &value);
    if (status == kMonUnavailable) value = 0;
    return IsFailure(status) && status != kMonUnavailable ? status : kStatusSuccess;
}

}  // namespace

Status MakeBackupRecord(UpdateRun& run) {
    TargetMonitor& target = run.target;
    const MonitorHandle monitor = target.monitorHandle;
    const bool older = IsOlderProtocolMonitor(monitor);
    // A record that names no monitor could never find it again.
    if (target.ModelName().empty() || target.SerialNumber().empty()) return kMonTransferFailed;
    BackupValues values;
    values.identity = {target.ModelName(), target.SerialNumber()};
    values.loaderFlag = target.loaderFlag;
    if (older) {
        std::int32_t b8 = 0;
        std::uint16_t s54 = 0, s68 = 0;
        if (const Status status = ReadSavedSetting(monitor, MonGetSettingB8, b8); IsFailure(status)) return status;
        if (const Status status = ReadSavedSetting(monitor, MonGetSetting54, s54); IsFailure(status)) return status;
        if (const Status status = ReadSavedSetting(monitor, MonGetSetting68, s68); IsFailure(status)) return status;
        values.savedSettingB8 = static_cast<std::uint32_t>(b8);
        values.savedSetting54 = s54;
        values.savedSetting68 = s68;
    }
    values.stage = kStageNothingWritten;
    // The firmware set is chosen by this version: one read while the monitor
    // stopped answering would choose by fields that are not the monitor's.
    const Status version = target.RefreshCurrentVersion();
    if (IsFailure(version) && MonitorHasUsage(monitor, command_usage::kVersionRecord)) return version;
    values.currentVersion = target.CurrentVersion();

    // What the record cannot hold exactly is refused, never cut to fit.
    BackupInfo info;
    if (IsFailure(ToBackupInfo(values, info))) return kAppIdentityNotRecordable;
    PackageHandle handle = kNoPackageHandle;
    if (const Status status = PkgCreateBackupRecord(&info, &handle); IsFailure(status)) return status;
    RunBackupRecord& r = run.record;
    r = RunBackupRecord{};
    static_cast<BackupValues&>(r) = values;
    r.recordHandle = handle;

    const std::string own = RunStateFolders(run).own;
    if (own.empty()) {
        NoteSystemFailure("no state folder for the backup file: neither XDG_STATE_HOME, HOME nor the user database names one", ENOENT);
        return kPkgCannotOpen;
    }
    std::string failedAt;
    if (const int error = MakeStateFolder(own, failedAt); error != 0) {
        NoteSystemFailure("mkdir " + failedAt, error);
        return kPkgCannotOpen;
    }
    r.filePath = RecordPath(own);
    const Status saved = PkgSaveFile(handle, r.filePath.c_str());
    // The settings are switched off only once the file holds their values:
    // switched off first, a power loss before the file is written would lose them.
    if (older && !IsFailure(saved)) {
        MonSetSetting54(target.monitorHandle, 0);
        MonSetSetting68(target.monitorHandle, 0);
    }
    return saved;
}

Status ReleaseControlLock(MonitorHandle monitor) {
    if (!MonitorHasUsage(monitor, command_usage::kControlLock)) return kMonUnavailable;
    const std::array<std::uint8_t, 2> released{};
    const MonUsage lock = command_usage::kControlLock;
    if (IsFailure(MonWriteBlock(monitor, lock.page, lock.usage, released))) return kMonTransferFailed;
    return kStatusSuccess;
}

namespace {

// Settings 54, 68 and B8 back as recorded; a setting the monitor lacks has
// nothing to put back. False when the monitor did not take one of them.
bool PutSettingsBack(MonitorHandle monitor, const RunBackupRecord& r) {
    if (IsFailure(MonSetSetting54(monitor, r.savedSetting54))) return false;
    const Status s68 = MonSetSetting68(monitor, r.savedSetting68);
    if (IsFailure(s68) && s68 != kMonUnavailable) return false;
    std::int32_t b8 = 0;
    const Status read = MonGetSettingB8(monitor, &b8);
    if (read == kMonUnavailable) return true;
    if (IsFailure(read)) return false;
    const auto saved = static_cast<std::int32_t>(r.savedSettingB8);
    return b8 == saved || !IsFailure(MonSetSettingB8(monitor, saved));
}

}  // namespace

void RestoreMonitorSettings(UpdateRun& run) {
    const RunBackupRecord& r = run.record;
    const MonitorHandle monitor = run.target.monitorHandle;
    if (r.recordHandle == kNoPackageHandle || monitor == kNoMonitor || r.stage != kStageNothingWritten) return;
    if (!IsOlderProtocolMonitor(monitor)) {
        DeleteFile(r.filePath);
        return;
    }
    if (PutSettingsBack(monitor, r)) DeleteFile(r.filePath);
    if (MonitorHasUsage(monitor, command_usage::kControlLock)) ReleaseControlLock(monitor);
}
