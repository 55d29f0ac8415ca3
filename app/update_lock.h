#pragma once
// One update at a time on this machine, whichever program runs it: the window
// and quillon-cli both take an exclusive flock on a file beside the backup file
// for their whole run. The lock goes with the process, so a crash or a kill
// never leaves it taken; the next run then resumes from the backup file.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "common/system_failure.h"
#include "common/unique_fd.h"

inline constexpr char kUpdateLockFileName[] = ".backup.lock";

// Who holds the lock, as the holder wrote it into the lock file.
struct UpdateLockHolder {
    std::string program;  // "quillon", "quillon-cli"; empty when not written yet
    pid_t pid = 0;
    // "quillon-cli (process 1234)", or "another updater" when unknown.
    std::string Description() const;
};

class UpdateLock {
public:
    // Tries once, without waiting, to take the lock of the folder that holds
    // the backup file (ends in "/"); `program` is written into the file so that
    // others can say which update runs.
    UpdateLock(const std::string& folder, std::string_view program);
    UpdateLock(UpdateLock&&) = default;
    UpdateLock& operator=(UpdateLock&&) = default;

    bool Held() const { return held_; }
    // Another process holds it (otherwise the file could not be opened: see Failure()).
    bool Busy() const { return !held_ && fd_; }
    // When busy: who holds it.
    const UpdateLockHolder& Holder() const { return holder_; }
    // When the lock file could not be opened or locked: the call and its errno.
    const std::optional<SystemFailure>& Failure() const { return failure_; }

private:
    UniqueFd fd_;
    bool held_ = false;
    UpdateLockHolder holder_;
    std::optional<SystemFailure> failure_;
};
