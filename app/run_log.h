#pragma once
// The plain-text record of one run of the updater: what it updated, with what,
// every step and failure, and how the run ended, for whoever looks into a
// failed update later. One file per run in the state folder (app/state_folder.h), the last
// kKeptRunLogs of them kept.
//
// A log is never a reason for an update to stop or change: a folder that
// cannot be made or a disk that is full leaves a log that writes nothing, and
// TakeProblem() says why, once.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/system_failure.h"
#include "common/unique_fd.h"

inline constexpr std::size_t kKeptRunLogs = 20;

// One of our own run logs: "run-", digits and dashes, ".log". Anything else in
// the folder is left alone.
bool IsRunLogName(std::string_view name);
// Run log names oldest first: by the name without ".log", so that a run
// numbered for sharing its millisecond ("…-4567-2") comes after the one it follows.
bool RunLogOrder(std::string_view a, std::string_view b);

class RunLog {
public:
    // Makes `folder` (and its missing parents, 0700), deletes the oldest run
    // logs there so that with this run's at most kKeptRunLogs remain, and
    // creates this run's file, named after the time (UTC) and the process.
    explicit RunLog(const std::string& folder);
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // The file's path; empty when it could not be created.
    const std::string& Path() const { return path_; }

    // Writes one line: the local time, the time since the log was opened on
    // the system clock (common/clock.h), and the text as DisplayText shows it
    // (a monitor's model name may hold any bytes, a line feed too: each control
    // character is escaped). The line is in the file when this returns. Safe
    // from any thread.
    void Write(std::string_view text);

    // Why the log could not be made or written, handed out once: the first
    // failed call and its errno. Later failures are not noted.
    std::optional<SystemFailure> TakeProblem();

private:
    void NoteProblem(std::string operation, int error);

    std::mutex mutex_;  // the file and the problem: the steps come from the update thread
    std::string path_;
    UniqueFd fd_;
    std::uint64_t openedMs_ = 0;
    std::optional<SystemFailure> problem_;
    bool problemNoted_ = false;
};
