#pragma once
// Status codes of the monitor commands, beside the layer's own in monitor_status.h.
#include "monitor/monitor_status.h"

// The control lock is refused: the monitor is calibrating.
inline constexpr Status kMonLockRefused = 0x80000026;
// One of the reads behind the firmware version text failed.
inline constexpr Status kMonVersionIncomplete = 0x80000027;
