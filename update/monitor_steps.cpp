#include "update/monitor_steps.h"

#include <algorithm>
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

namespace {

// The one monitor that has newly appeared (its path is not in `before`) and
// waits in an update or cannot tell its identity, while no other monitor waits;
// kNoMonitor otherwise, and for one that tells an identity other than the recorded one.
MonitorHandle NewlyWaitingMonitor(const MonitorIdentity& recorded, const std::vector<std::string>& before) {
    const std::vector<MonitorHandle> waiting = MonListWaitingMonitors();
    const std::vector<std::string> present = MonListMakerPaths();
    const auto among = [](const std::vector<std::string>& paths, const std::string& path) {
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    MonitorHandle candidate = kNoMonitor;
    const std::uint32_t count = MonOpenDevices(kFamilyNormal | kFamilyStoppedInUpdate);
    for (std::uint32_t i = 0; i < count; ++i) {
        MonitorHandle h = kNoMonitor;
        if (IsFailure(MonGetDevice(kFamilyNormal | kFamilyStoppedInUpdate, i, &h))) continue;
        const std::string path = MonGetDevicePath(h);
        if (!among(present, path)) continue;  // registered, but gone
        const bool isNew = !among(before, path);
        const bool waits = std::find(waiting.begin(), waiting.end(), h) != waiting.end();
        MonitorIdentity told;
        const bool tells = !IsFailure(MonGetIdentity(h, told)) && told.Known();
        if (!isNew || (!waits && tells)) {
            if (waits) return kNoMonitor;  // another monitor waits: either could be the one
            continue;
        }
        if (candidate != kNoMonitor || (tells && told != recorded)) return kNoMonitor;
        candidate = h;
    }
    return candidate;
}

// Up to four times: wait, then `look`. The context's monitor becomes what was found.
template <typename Look>
MonitorHandle WaitAndLook(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs, Look look) {
    MonitorHandle found = kNoMonitor;
    {
        // Expected back after the first wait; the longest is every attempt.
        const ReportedWait wait(context.progress, waitMs + lookMs, kReconnectAttempts * (waitMs + lookMs));
        for (int attempt = 0; attempt < kReconnectAttempts && found == kNoMonitor; ++attempt) {
            SleepMs(waitMs);
            found = look();
        }
    }
    context.monitor = found;
    return found;
}

}  // namespace

Status ReconnectLoop(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs) {
    const auto byIdentity = [&context] { return MonReopenByIdentity(context.identity); };
    return WaitAndLook(context, waitMs, lookMs, byIdentity) == kNoMonitor ? kUpdFailed : kStatusSuccess;
}

Status ReconnectIntoUpdateState(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs,
                                const std::vector<std::string>& before) {
    bool byIdentity = true;
    const auto look = [&] {
        const MonitorHandle found = MonReopenByIdentity(context.identity);
        if (found != kNoMonitor) return found;
        byIdentity = false;
        return NewlyWaitingMonitor(context.identity, before);
    };
    if (WaitAndLook(context, waitMs, lookMs, look) == kNoMonitor) return kUpdFailed;
    if (byIdentity || context.loaderFlag == 1) return kStatusSuccess;
    return SaveLoaderFlag(context, 1);
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
