#pragma once
// Monitor operations both update sequences share: restarting, finding the
// monitor again, taking the control lock back, and checking the versions.
#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "monitor/registry.h"
#include "update/update_context.h"

inline constexpr int kReconnectAttempts = 4;
inline constexpr std::uint32_t kEnterUpdateReconnectMs = 30000;  // the first restart into the update state
inline constexpr std::uint32_t kReconnectMs = 15000;
inline constexpr int kVersionReads = 15;
inline constexpr std::uint32_t kVersionRetryMs = 1000;

// Whether the monitor has the usage (a failed query counts as absent).
bool HasUsage(MonitorHandle monitor, std::uint16_t page, std::uint16_t usage);

// Writes the boot selector (0xFF02:0x00FB) or the restart command (0xFF02:0x00F4 = 0); kUpdWriteFailed on failure.
Status WriteBootSelector(MonitorHandle monitor, std::int32_t value);
Status WriteRestart(MonitorHandle monitor);

// Up to four times: wait, then look for the monitor by its identity. The
// context's monitor becomes what was found; kUpdFailed when nothing was.
// `lookMs`: how long a look that finds it is expected to take, for the progress.
Status ReconnectLoop(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs = 0);

// ReconnectLoop after a restart into the update state; `before` holds the
// maker's device paths present before the restart (MonListMakerPaths). Some
// older monitors cannot tell their identity in that state: when none answers
// to it, the one monitor that has newly appeared and waits in an update (or
// cannot tell its identity), while no other waits, is taken; never one that
// tells an identity that is another's. Taking it sets the loader flag and saves
// the backup file before anything else, so that the next start too resumes the
// monitor waiting in its update rather than look for it by identity.
Status ReconnectIntoUpdateState(UpdateContext& context, std::uint32_t waitMs, std::uint32_t lookMs,
                                const std::vector<std::string>& before);

// Takes the control lock again on a monitor that has one, clearing its busy flag first.
Status RetakeControlLock(MonitorHandle monitor);

// Compares the monitor's version text with the target version, field by field;
// "00000" in the target matches anything. kUpdVersionMismatch on a difference.
Status CheckMonitorVersions(const UpdateContext& context);
