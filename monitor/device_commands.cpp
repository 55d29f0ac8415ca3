#include "monitor/device_commands.h"

#include "common/clock.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace command_access;
namespace usage = command_usage;

namespace {

constexpr std::int32_t kIdentifyOff = 0x8000;
constexpr std::int32_t kIdentifyOn = 0x4000;
constexpr std::int32_t kIdentifyOnOlder = 0x0010;  // monitors without component selection

constexpr std::int32_t kCompletionStart = 0xFF;
constexpr std::int32_t kCompletionIdle = 0;
constexpr std::int32_t kCompletionDone = 1;
constexpr std::int32_t kCompletionWorking = 2;

}  // namespace

Status MonIdentify(MonitorHandle handle, bool on) {
    const auto lock = monitor_registry::Lock();
    if (!on) return WriteValue(handle, usage::kIdentify, kIdentifyOff);
    (void)WriteValue(handle, usage::kIdentify, kIdentifyOff);  // a fresh start; the switch-on decides
    if (IsAvailable(handle, usage::kSelect)) return WriteValue(handle, usage::kIdentify, kIdentifyOn);
    SleepMs(kIdentifyPauseMs);
    return WriteValue(handle, usage::kIdentify, kIdentifyOnOlder);
}

Status MonRunCompletionCommand(MonitorHandle handle, UpdateProgress* progress) {
    const auto lock = monitor_registry::Lock();
    if (IsFailure(WriteValue(handle, usage::kCompletion, kCompletionStart))) return kMonFailed;
    ReportedWait wait(progress);
    for (int poll = 0; poll < kCompletionPolls; ++poll) {
        std::int32_t state = 0;
        if (const Status status = ReadValue(handle, usage::kCompletion, state); IsFailure(status)) return status;
        if (state == kCompletionDone) return kStatusSuccess;
        if (state == kCompletionIdle) return kMonFailed;
        if (state != kCompletionWorking) continue;
        // The longest is every poll.
        wait.Begin(kCompletionExpectedWaitMs, kCompletionPolls * kCompletionPollMs);
        SleepMs(kCompletionPollMs);
    }
    return kMonFailed;
}
