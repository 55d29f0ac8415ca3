#pragma once
// Status codes of the update engine (0 is success, see common/status.h). Codes
// of the monitor layer and the package library pass through unchanged.
#include "common/status.h"

// The monitor was not found again after a restart, or there was no component to write.
inline constexpr Status kUpdFailed = 0x80000000;
// A missing monitor, record or package, or a component without data.
inline constexpr Status kUpdBadArgument = 0x80000001;
// A write of the boot selector, the restart command or a setting failed.
inline constexpr Status kUpdWriteFailed = 0x80000015;
// The monitor's versions differ from the package's after the final check.
inline constexpr Status kUpdVersionMismatch = 0x8000001E;
