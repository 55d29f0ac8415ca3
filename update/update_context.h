#pragma once
// The state of one update: what the backup record holds, the monitor being
// updated and the package being written. Whoever runs the update owns it (the
// update thread, for one run) and passes it to the sequence by reference.
#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "common/monitor_identity.h"
#include "common/status.h"
#include "common/update_progress.h"
#include "monitor/registry.h"
#include "package/backup_values.h"
#include "package/content.h"
#include "package/pkg.h"

// Update stages, in the order a sequence goes through them (kStageNew, 100, first).
inline constexpr std::int32_t kStagePrepared = 200;
inline constexpr std::int32_t kStageWriting = 300;
inline constexpr std::int32_t kStageWritten = 400;
inline constexpr std::int32_t kStageRestarted = 500;
inline constexpr std::int32_t kStageChecked = 550;
inline constexpr std::int32_t kStageSettingsStored = 600;
inline constexpr std::int32_t kStageDone = 1000;

// The record's values (the identity finds the monitor again after every
// restart), and what the update works with besides.
struct UpdateContext : BackupValues {
    PackageHandle record = kNoPackageHandle;
    MonitorHandle monitor = kNoMonitor;
    PackageHandle package = kNoPackageHandle;  // kept from an earlier call when a later one passes none
    // Where the backup file is written: the run gives the record's path, and
    // BeginSequence refuses a sequence without one.
    std::string backupPath;
    // Where the sequence reports its progress; none when nobody follows it.
    UpdateProgress* progress = nullptr;
};

// Reads every field of the record into the context; the first failure is returned.
Status LoadUpdateContext(UpdateContext& context);
// The common start of both sequences: takes the monitor, the package (a call
// that passes none keeps the one given before) and the record, and loads them.
Status BeginSequence(UpdateContext& context, MonitorHandle monitor, PackageHandle package, PackageHandle record);
// Writes the record to the backup file (atomically, by the package library).
Status SaveBackupFile(const UpdateContext& context);
// Sets the record's loader flag and rewrites the backup file; on failure the
// context and the record keep the flag the file holds.
Status SaveLoaderFlag(UpdateContext& context, std::uint32_t loaderFlag);
// Moves the record to `stage` and rewrites the backup file; on failure the
// context and the record keep their previous stage.
Status ChangeStage(UpdateContext& context, std::int32_t stage);
// After the monitor has been taken back to its firmware with nothing written:
// the record returns to its first stage, for a monitor that runs (loader flag 0),
// and the backup file is rewritten. Then `why` is the result.
Status ReturnToFirstStage(UpdateContext& context, Status why);
