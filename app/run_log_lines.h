#pragma once
// The run log's words for what an update does and how it fails: plain English
// for support, whatever language the user reads.
#include <optional>
#include <string>

#include "common/status.h"
#include "common/system_failure.h"
#include "update/progress_tracker.h"

// "Writing component 2 of 3", "Restarting the monitor", ... (the window's words, in English).
std::string LogStepText(const ProgressSnapshot& step);
// ' at step "Writing component 2 of 3"' while an update runs, else "".
std::string AtStepText(const ProgressSnapshot& progress);
// "status 0x80000011 (cannot replace /x/.backup: Is a directory)", or "status 0x80000024".
std::string StatusText(Status status, const std::optional<SystemFailure>& cause);
