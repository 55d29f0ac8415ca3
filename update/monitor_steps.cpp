#include "update/monitor_steps.h"

#include <array>
#include <string_view>

#include "common/clock.h"
#include "monitor/command_usages.h"
#include "monitor/control_lock.h"
#include "monitor/discovery.h"
#include "monitor/firmware_version.h"
#include "monitor/transactions.h"
#include "package/version_text.h"
#include "update/update_status.h"

bool HasUsage(MonitorHandle monitor, std::uint16_t page, std::uint16_t usage) {
    std::uint32_t absent = 1;
    return MonIsUnsupported(monitor, page, usage, &absent) == kStatusSuccess && absent == 0;
}

Status WriteBootSelector(MonitorHandle monitor, std::int32_t value) {
    const MonUsage u = command_usage::kBootSelector;
    return IsFailure(MonWriteValue(monitor, u.page, u.usage, value)) ? kUpdWriteFailed : kStatusSuccess;
}

Status WriteRestart(MonitorHandle monitor) {
    const MonUsage u = command_usage::kRestart;
    return IsFailure(MonWriteValue(monitor, u.page, u.usage, 0)) ? kUpdWriteFailed : kStatusSuccess;
}

Status ReconnectLoop(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs) {
    MonitorHandle found = kNoMonitor;
    {
        // Expected back after the first wait; the longest is every attempt.
        const ReportedWait wait(context.progress, waitMs + lookMs, kReconnectAttempts * (waitMs + lookMs));
        for (int attempt = 0; attempt < kReconnectAttempts && found == kNoMonitor; ++attempt) {
            SleepMs(waitMs);
            found = MonReopenByIdentity(context.identity);
        }
    }
    context.monitor = found;
    return found == kNoMonitor ? kUpdFailed : kStatusSuccess;
}

Status RetakeControlLock(MonitorHandle monitor) {
    const MonUsage lock = command_usage::kControlLock;
    if (!HasUsage(monitor, lock.page, lock.usage)) return kStatusSuccess;
    const MonUsage busy = command_usage::kBusyFlag;
    if (HasUsage(monitor, busy.page, busy.usage)) {
        if (const Status status = MonClearBusyFlag(monitor); IsFailure(status)) return status;
    }
    std::uint8_t mode = kLockModeNone;
    if (const Status status = MonGetLockMode(monitor, &mode); IsFailure(status)) return status;
    return MonAcquireControlLock(monitor, mode);
}

Status CheckMonitorVersions(const UpdateContext& context) {
    std::array<char, kVersionTextBytes> text{};
    {
        ReportedWait wait(context.progress);
        for (int read = 0; read < kVersionReads; ++read) {
            if (!IsFailure(MonGetFirmwareVersion(context.monitor, text))) break;
            // A monitor still starting up: a wait of up to every retry.
            wait.Begin(kVersionRetryMs, kVersionReads * kVersionRetryMs);
            SleepMs(kVersionRetryMs);
        }
    }
    const VersionText monitor(std::string_view(text.data(), kVersionLength));
    // A target without all five fields cannot confirm anything.
    return monitor.Satisfies(VersionText(context.targetVersion)) ? kStatusSuccess : kUpdVersionMismatch;
}
