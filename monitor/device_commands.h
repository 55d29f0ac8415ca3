#pragma once
// Commands that act on the monitor as a whole: the on-screen identification
// and the completion command that ends an update on older monitors.
#include <cstdint>

#include "common/update_progress.h"
#include "monitor/command_status.h"
#include "monitor/registry.h"

// Switches the identification on the monitor's screen (0xFF00:0x000F) on or
// off. Monitors without component selection (0xFF02:0x00C2) need
// kIdentifyPauseMs between switching off and on.
inline constexpr std::uint32_t kIdentifyPauseMs = 300;
Status MonIdentify(MonitorHandle handle, bool on);

// Starts the completion (0xFF02:0x0037 = 0xFF) and polls it: kMonFailed when
// the write fails, the monitor reports idle, or it has not finished after
// kCompletionPolls reads; kMonTransferFailed for a failed read. Waits
// kCompletionPollMs only while the monitor reports it is working; that wait
// reaches `progress` when given.
inline constexpr int kCompletionPolls = 20;
inline constexpr std::uint32_t kCompletionPollMs = 1000;
// A monitor works on the completion for about 3 s from the start: the polls
// find it working at once and done at the third pause's end.
inline constexpr std::uint32_t kCompletionWorkMs = 3000;
inline constexpr std::uint32_t kCompletionExpectedWaitMs = PolledWaitMs(kCompletionWorkMs, kCompletionPollMs);
Status MonRunCompletionCommand(MonitorHandle handle, UpdateProgress* progress = nullptr);
