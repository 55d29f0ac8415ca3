#pragma once
// The usages behind the monitor commands and the component transfer, named once.
#include "monitor/native_access.h"

namespace command_usage {

// Settings saved before an update and put back after it.
inline constexpr MonUsage kSettingFlags{0xFF00, 0x0009};  // bit 4: setting 53, bit 5: setting 54 (older monitors)
inline constexpr MonUsage kSetting54{0xFF01, 0x0054};
inline constexpr MonUsage kSetting45{0xFF01, 0x0045};
inline constexpr MonUsage kSetting45Fallback{0xFF01, 0x00A4};
inline constexpr MonUsage kSetting53{0xFF01, 0x0053};
inline constexpr MonUsage kSetting68{0xFF01, 0x0068};
inline constexpr MonUsage kSetting22Presence{0xFF03, 0x0001};
inline constexpr MonUsage kSetting22{0xFF03, 0x0022};
inline constexpr MonUsage kSetting30Presence{0xFF03, 0x0003};
inline constexpr MonUsage kSetting30{0xFF03, 0x0030};
inline constexpr MonUsage kSetting40{0xFF10, 0x0040};
inline constexpr MonUsage kSwitchF0{0xFF01, 0x00F0};

// Indexed settings: select [index, operation], then the value.
inline constexpr MonUsage kIndexSelect{0xFF01, 0x00F1};
inline constexpr MonUsage kIndexValue{0xFF01, 0x00F2};

inline constexpr MonUsage kIdentify{0xFF00, 0x000F};
inline constexpr MonUsage kVersionRecord{0xFF00, 0x00D8};

// Older monitors: lock modes 2 and 5 come from these two presences.
inline constexpr MonUsage kLockModeA{0xFF03, 0x0001};
inline constexpr MonUsage kLockModeB{0xFF03, 0x0003};
inline constexpr MonUsage kControlLock{0xFF03, 0x0080};
inline constexpr MonUsage kBusyFlag{0xFF03, 0x0004};

inline constexpr MonUsage kCompletion{0xFF02, 0x0037};
// Written 1 before components are written and 0 before the restart that follows.
inline constexpr MonUsage kBootSelector{0xFF02, 0x00FB};
// Writing 0 restarts the monitor: it leaves the bus and comes back later.
inline constexpr MonUsage kRestart{0xFF02, 0x00F4};

// Component transfer.
inline constexpr MonUsage kSelect{0xFF02, 0x00C2};
inline constexpr MonUsage kGeometry{0xFF02, 0x00C3};
inline constexpr MonUsage kPacket{0xFF02, 0x00C7};
inline constexpr MonUsage kCombinedPacket{0xFF02, 0x00FE};  // its presence also marks a newer monitor
inline constexpr MonUsage kChecksum{0xFF02, 0x00FC};

}  // namespace command_usage
