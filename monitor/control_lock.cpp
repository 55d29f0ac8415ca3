#include "monitor/control_lock.h"

#include <array>

#include "common/clock.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace command_access;
namespace usage = command_usage;

namespace {
constexpr std::size_t kLockBlockBytes = 2;  // [mode, seconds]
}  // namespace

Status MonGetLockMode(MonitorHandle handle, std::uint8_t* mode) {
    if (mode == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kLockModeA)) {
        *mode = kLockModeNone;
    } else {
        *mode = IsAvailable(handle, usage::kLockModeB) ? kLockModeB : kLockModeA;
    }
    return kStatusSuccess;
}

Status MonAcquireControlLock(MonitorHandle handle, std::uint8_t mode) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kControlLock)) return kMonUnavailable;
    std::array<std::uint8_t, kLockBlockBytes> block{};
    if (const Status status = ReadBlock(handle, usage::kControlLock, block); IsFailure(status)) return status;
    if (block[0] != kLockModeNone && block[0] != kLockModeA && block[0] != kLockModeB) return kMonLockRefused;
    block = {mode, mode != kLockModeNone ? kLockSeconds : std::uint8_t{0}};
    return WriteBlock(handle, usage::kControlLock, block);
}

Status MonClearBusyFlag(MonitorHandle handle) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kBusyFlag)) return kMonUnavailable;
    std::int32_t busy = -1;
    if (const Status status = ReadValue(handle, usage::kBusyFlag, busy); IsFailure(status)) return status;
    if (busy != 1) return kStatusSuccess;
    if (const Status status = WriteValue(handle, usage::kBusyFlag, 0); IsFailure(status)) return status;
    for (int poll = 0; poll < kBusyFlagPolls; ++poll) {
        busy = 0;
        if (const Status status = ReadValue(handle, usage::kBusyFlag, busy); IsFailure(status)) return status;
        if (busy == 0) return kStatusSuccess;
        SleepMs(kBusyFlagPollMs);
    }
    return kMonTransferFailed;
}
