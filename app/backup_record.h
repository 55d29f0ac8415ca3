#pragma once
// The run's copy of the backup record: what the record in the package library
// holds, read back property by property.
#include <cstdint>
#include <map>
#include <string>

#include "common/status.h"
#include "package/content.h"
#include "package/pkg.h"

inline constexpr std::uint32_t kStageNothingWritten = 100;

struct RunBackupRecord {
    PackageHandle recordHandle = kNoPackageHandle;
    std::string filePath;  // empty until the file is saved or loaded
    std::string modelName;
    std::string serialNumber;
    std::string targetVersion;  // empty until the update attaches a package
    std::string currentVersion;
    std::uint32_t stage = kStageNothingWritten;
    std::uint32_t loaderFlag = 0;
    std::uint32_t savedSettingB8 = 0;
    std::uint16_t savedSetting54 = 0;
    std::uint16_t savedSetting68 = 0;
    std::uint32_t setting9 = 0;
    std::uint32_t setting10 = 0;
    std::uint16_t setting11 = 0;
    std::uint16_t setting12 = 0;
    std::uint16_t setting13 = 0;
    // The attached firmware set's components by componentType 1 to 5; a type is
    // present only when its property could be read.
    std::map<std::uint16_t, ComponentDescriptor> descriptors;
};

// Reads every field from the library's record behind `recordHandle`. The
// first failing read of a field ends it; component descriptors that cannot be
// read are skipped. The result is the status of the last read (setting 68).
Status ReadBackupRecord(RunBackupRecord& record);
