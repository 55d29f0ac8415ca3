#pragma once
// The backup record as the updater's layers hand it about: one typed structure,
// read from the library's record by one reader and changed by one editor. The
// field widths are those of BackupInfo, named once there: a text that does not
// fit its field is refused, never cut, and a width that changes there changes
// here with it.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "common/monitor_identity.h"
#include "common/status.h"
#include "package/content.h"
#include "package/pkg.h"

// The record's stage before anything has been written to the monitor.
inline constexpr std::int32_t kStageNew = 100;

struct BackupValues {
    MonitorIdentity identity;
    std::string targetVersion;  // in memory form; empty until a set is attached
    std::string currentVersion;
    std::int32_t stage = kStageNew;
    std::uint32_t loaderFlag = 0;  // only the low byte is stored
    std::uint32_t savedSettingB8 = 0;
    std::uint16_t savedSetting54 = 0;
    std::uint32_t setting9 = 0;
    std::uint32_t setting10 = 0;
    std::uint16_t setting11 = 0;
    std::uint16_t setting12 = 0;
    std::uint16_t setting13 = 0;
    std::uint16_t savedSetting68 = 0;
    // The attached set's components by componentType, 1 to 6; a type is
    // present only when the set carries it. The data stays the record's.
    std::map<std::uint16_t, ComponentDescriptor> components;
};

// The values as BackupInfo holds them to create a record; kPkgInvalid when a
// text does not fit its field (or holds a zero byte), and `info` is then untouched.
Status ToBackupInfo(const BackupValues& values, BackupInfo& info);

// Reads every value of the record behind `record`; the first failing read is
// returned. A component the set does not carry is simply absent.
Status PkgReadBackupValues(PackageHandle record, BackupValues& values);

// The one way a record changes once it exists: `edit` changes a copy of
// `values`; the changed values are set on the record and the backup file at
// `path` is saved. When a value is refused or the file cannot be saved, the
// record is put back as it was and `values` keep their old contents, so memory,
// record and file never disagree. Components are not edited here.
Status PkgEditBackupRecord(PackageHandle record, const std::string& path, BackupValues& values,
                           const std::function<void(BackupValues&)>& edit);
