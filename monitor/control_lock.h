#pragma once
// The control lock and the busy flag of older monitors.
#include <cstdint>

#include "monitor/command_status.h"
#include "monitor/registry.h"

// The lock's mode bytes. Any other first byte in the lock block means the
// monitor is calibrating and refuses the lock.
inline constexpr std::uint8_t kLockModeNone = 0;
inline constexpr std::uint8_t kLockModeA = 2;
inline constexpr std::uint8_t kLockModeB = 5;
// Seconds the monitor holds a taken lock.
inline constexpr std::uint8_t kLockSeconds = 60;

// kLockModeNone without 0xFF03:0x0001, kLockModeA with it alone, kLockModeB
// with 0xFF03:0x0003 too. Only a null `mode` fails.
Status MonGetLockMode(MonitorHandle handle, std::uint8_t* mode);

// Takes the lock (block 0xFF03:0x0080) in `mode`; kMonLockRefused while the
// monitor calibrates, nothing written then. Writing [0, 0] releases it.
Status MonAcquireControlLock(MonitorHandle handle, std::uint8_t mode);

// Clears a set busy flag (0xFF03:0x0004) and waits for the monitor to confirm,
// polling once a second; kMonTransferFailed when it has not after kBusyFlagPolls reads.
inline constexpr int kBusyFlagPolls = 20;
inline constexpr std::uint32_t kBusyFlagPollMs = 1000;
Status MonClearBusyFlag(MonitorHandle handle);
