#pragma once
// The run's copy of the backup record: the record's values as the package
// library's one reader gives them (package/backup_values.h).
#include <cstdint>
#include <map>
#include <string>

#include "common/status.h"
#include "package/backup_values.h"
#include "package/content.h"
#include "package/pkg.h"

inline constexpr std::int32_t kStageNothingWritten = kStageNew;

// The record's values, with the library's handle and the file it was loaded
// from or saved to.
struct RunBackupRecord : BackupValues {
    PackageHandle recordHandle = kNoPackageHandle;
    std::string filePath;  // empty until the file is saved or loaded
};

// Reads every value from the library's record behind `recordHandle`; the first
// failing read is returned.
Status ReadBackupRecord(RunBackupRecord& record);

// The record's firmware components, componentTypes 1 to 5 (the list of
// settings, type 6, is not firmware): what an estimate is made of.
std::map<std::uint16_t, ComponentDescriptor> FirmwareComponents(const BackupValues& record);
