#pragma once
// Past runs of the updater, read back from their run logs (app/run_log.h):
// when, which monitor, from which version to which, and how each ended.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RunResult {
    Completed,
    Failed,      // the run showed an error message
    Ended,       // the run stopped with a message that is no error (nothing to update, ...)
    Cancelled,   // the user ended it before the update
    Incomplete,  // no result: the run still goes on, or was cut (a power loss, a kill)
};

struct PastRun {
    std::string logPath;
    // When the run began, in the local time of the run: "2026-12-10 22:15:00.123 +0100".
    std::string startTime;
    std::string program;  // "quillon" or "quillon-cli"
    // Each as the monitor, the package or the record said it, with its bytes
    // as they were; empty when the run ended before it knew.
    std::string model, serial, fromVersion, toVersion;
    bool resumed = false;  // the run finished an interrupted update
    RunResult result = RunResult::Incomplete;
    // "0x80000011"; "0x00000000" for a completed run; empty when the log names none.
    std::string status;
    bool operator==(const PastRun&) const = default;
};

// One run log's text; nullopt when it is not one (its first line does not say
// which program wrote it). A last line without its line feed is not read: the
// run was cut while writing it.
std::optional<PastRun> ParseRunLog(std::string_view text);

// The runs whose logs are in `folder`, newest first. A file that cannot be read
// or is no run log is left out; a missing folder has none.
std::vector<PastRun> ReadRunHistory(const std::string& folder);

// "completed", "failed", "ended", "cancelled", "incomplete".
std::string_view RunResultName(RunResult result);
