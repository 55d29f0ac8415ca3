#pragma once
// Status codes the application itself gives (0 is success, see common/status.h);
// codes of the layers below reach the user unchanged.
#include "common/status.h"

// The initial result of a worker thread, and a version text too short to compare.
inline constexpr Status kAppFailed = 0x80000000;
// The executable's own path cannot be read, so the backup file has no place.
inline constexpr Status kAppNoExecutablePath = 0x8000001D;
inline constexpr Status kAppNoPackageFile = 0x80000024;
inline constexpr Status kAppSeveralPackageFiles = 0x80000025;
inline constexpr Status kAppAlreadyApplied = 0x80000028;
inline constexpr Status kAppRecordedMonitorMissing = 0x80000029;
inline constexpr Status kAppSeveralCandidates = 0x8000002A;
inline constexpr Status kAppResumableWithoutBackup = 0x8000002B;
// No monitor can be listed, but a device of the maker is present that this
// user may not open: the device rule is missing.
inline constexpr Status kAppDevicesRefused = 0x80000030;
// A program that must not run beside the update could not be closed (the
// system refused the signal: another user's program); nothing was written.
inline constexpr Status kAppProgramNotClosed = 0x80000031;
// Two or more connected monitors present the identity of the monitor to update:
// nothing tells them apart, so reconnecting after a restart could take another one.
inline constexpr Status kAppSameIdentityTwice = 0x80000032;
// The monitor's model name or serial number is longer than the backup record
// holds: cut to fit, the record could never find the monitor again.
inline constexpr Status kAppIdentityNotRecordable = 0x80000033;
