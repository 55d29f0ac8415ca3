#pragma once
// Setting B8 (value 0xFF00:0x00B8), the one command that reconnecting needs.
#include <cstdint>

#include "common/update_progress.h"
#include "monitor/monitor_status.h"
#include "monitor/registry.h"

// `value` is set only when the monitor reports 0 or 1; any other reading
// leaves it as it was and still succeeds. kMonBadArgument for a null `value`,
// kMonUnavailable without the usage, kMonTransferFailed when the read fails.
Status MonGetSettingB8(MonitorHandle handle, std::int32_t* value);

// The monitor reports setting B8 present; a failed query counts as absent.
bool MonHasSettingB8(MonitorHandle handle);

// Writes the value and gives the monitor time to act on it: 10 s after a 1,
// 1 s after anything else (no wait after a failed write).
// The pause reaches `progress` as a wait when given.
Status MonSetSettingB8(MonitorHandle handle, std::int32_t value, UpdateProgress* progress = nullptr);

inline constexpr std::uint32_t kSettingB8SettleAfterOnMs = 10000;
inline constexpr std::uint32_t kSettingB8SettleAfterOtherMs = 1000;
constexpr std::uint32_t SettingB8SettleMs(std::int32_t value) {
    return value == 1 ? kSettingB8SettleAfterOnMs : kSettingB8SettleAfterOtherMs;
}
// Switching B8 off and then on, as the update does to make the monitor take new values.
inline constexpr std::uint32_t kSettingB8CycleMs = kSettingB8SettleAfterOtherMs + kSettingB8SettleAfterOnMs;
