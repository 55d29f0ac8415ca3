#pragma once
// The package library's interface: free functions over process-wide tables of
// firmware images, firmware packages and the one backup record, reached
// through opaque handles. The tables are process-wide because the handles are
// the interface: a handle names the same object to every caller until
// PkgCloseAll. Not safe for concurrent use: one thread at a time.
#include <cstddef>
#include <cstdint>

#include "common/status.h"
#include "package/container.h"
#include "package/content.h"

// Handles are issued from a counter that never repeats within a process, so a
// handle of a destroyed object can never be taken for a live one.
enum class PackageHandle : std::uint64_t {};
inline constexpr PackageHandle kNoPackageHandle{};

// Status codes of the package library (see common/status.h). The container's
// codes (container.h) have the same values and pass through PkgLoadFile and
// PkgSaveFile unchanged.
inline constexpr Status kPkgNoComponentToCopy = 0x80000000;
inline constexpr Status kPkgInvalid = 0x80000001;  // missing argument, invalid content, wrong record, no set
inline constexpr Status kPkgInvalidHandle = 0x80000002;
inline constexpr Status kPkgWrongKind = 0x80000004;
inline constexpr Status kPkgModelMismatch = 0x80000005;
inline constexpr Status kPkgBufferTooSmall = 0x80000007;
inline constexpr Status kPkgPropertyAbsent = 0x80000008;
inline constexpr Status kPkgComponentPresent = 0x80000009;
inline constexpr Status kPkgNoMatchingSet = 0x8000000c;
inline constexpr Status kPkgRecordExists = 0x80000010;
inline constexpr Status kPkgCannotOpen = 0x80000011;
inline constexpr Status kPkgBadChecksum = 0x80000012;  // also: not a container at all (see container.h)
inline constexpr Status kPkgNothingToWrite = 0x80000014;

// Property ids.
enum PkgPropertyId : std::uint32_t {
    kPropKind = 0,
    kPropModelName = 1,
    kPropVersion = 2,         // package version, image version field, record targetVersion
    kPropKeyOrCurrent = 3,    // key of a kind-16 package's set, record currentVersion
    kPropSerialNumber = 4,
    kPropLoaderFlag = 5,
    kPropStage = 6,
    kPropSavedSettingB8 = 7,
    kPropSavedSetting54 = 8,
    kPropSetting9 = 9,
    kPropSetting10 = 10,
    kPropSetting11 = 11,
    kPropSetting12 = 12,
    kPropSetting13 = 13,
    kPropComponentType = 14,  // images
    kPropFirstComponent = 15, // 15 to 20: ComponentDescriptor of type id - 14
    kPropLastComponent = 20,
    kPropSavedSetting68 = 21,
};

// A FIFO or a device at path is refused (kPkgCannotOpen), never waited on; a
// symbolic link is followed unless `links` refuses it (the backup file).
Status PkgLoadFile(const char* path, PackageHandle* handle, FileLinks links = FileLinks::Follow);
// A backup record that would not load again (a value out of range) is not
// written, and the file at path is left as it was.
Status PkgSaveFile(PackageHandle handle, const char* path);
Status PkgGetProperty(PackageHandle handle, std::uint32_t id, void* buffer, std::size_t size);
Status PkgSetProperty(PackageHandle handle, std::uint32_t id, const void* buffer, std::size_t size);
void PkgCloseAll();
Status PkgCreateBackupRecord(const BackupInfo* info, PackageHandle* handle);
// 1 when the kind-16 package's set serves the version text, else 0 (every failure included).
int PkgHasMatchingSet(PackageHandle handle, const char* version);
Status PkgSelectSet(PackageHandle handle, const char* version, PackageHandle* selected);
Status PkgAttachSet(PackageHandle handle, PackageHandle* record);
