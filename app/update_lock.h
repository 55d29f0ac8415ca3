#pragma once
// One update at a time on this machine, whoever runs it and from whichever copy
// of the programs: the window and quillon-cli both hold the lock for their whole run.
//
// The lock is a UNIX socket bound to a name in Linux's abstract namespace. The
// kernel lets exactly one socket on the machine have a name, so binding it is
// taking the lock; the name is no file, so nobody can take it away by making it
// unopenable, a symlink or a FIFO, nor keep another user out with its
// permissions; and the socket goes with the process, so a crash or a kill never
// leaves it taken (the next run then resumes from the backup file). Its limit:
// the abstract namespace is per network namespace, so a container with a network
// of its own has a lock of its own.
//
// The holder listens and never answers: the kernel itself names it. A client
// that connects learns the listener's pid from SO_PEERCRED (across users too),
// and the program's name from /proc/PID/comm; nothing the holder writes, so
// there is no thread and no protocol to wait on.
#include <sys/types.h>

#include <optional>
#include <string>

#include "common/system_failure.h"
#include "common/unique_fd.h"

// Who holds the lock.
struct UpdateLockHolder {
    std::string program;  // "quillon", "quillon-cli"; empty when unknown
    pid_t pid = 0;
    // "quillon-cli (process 1234)", or "another updater" when unknown.
    std::string Description() const;
};

// The lock's name on this machine (tests give their process one of its own:
// update_lock_testing.h).
std::string UpdateLockName();

class UpdateLock {
public:
    // Tries once, without waiting, to take the lock.
    explicit UpdateLock(const std::string& name = UpdateLockName());

    bool Held() const { return static_cast<bool>(socket_); }
    // Another process holds it.
    bool Busy() const { return holder_.has_value(); }
    // When busy: who holds it.
    const UpdateLockHolder& Holder() const { return *holder_; }
    // When the lock could not be taken for another reason: the call and its errno.
    const std::optional<SystemFailure>& Failure() const { return failure_; }

private:
    UniqueFd socket_;
    std::optional<UpdateLockHolder> holder_;
    std::optional<SystemFailure> failure_;
};

// Who runs an update now, looked at without taking the lock, so that looking
// never refuses an update that starts meanwhile (list, status).
std::optional<UpdateLockHolder> RunningUpdate(const std::string& name = UpdateLockName());
