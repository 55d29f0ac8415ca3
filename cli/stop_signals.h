#pragma once
// The signals that ask quillon-cli to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT)
// or to suspend (SIGTSTP, SIGTTIN, SIGTTOU), read from a signalfd instead of
// handled: nothing runs inside a handler, and the update loop decides between
// the window's exit path, a suspension and a refusal. Blocked, they can neither
// kill nor stop the process while it writes a monitor's firmware. SIGPIPE is
// ignored, so that a lost terminal or a closed pipe never ends an update.
#include <optional>
#include <string>

#include "common/unique_fd.h"

class StopSignals {
public:
    // Blocks the signals on the calling thread; to be made before any other
    // thread starts, since threads inherit the mask and would otherwise take them.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // A signal that came, once; nullopt when none did.
    std::optional<int> Take();
    // Stops the process as `signal` (one that suspends) does by default, so
    // that the shell sees the job stopped by it; returns once it is continued.
    void Suspend(int signal);
    // One line from `fd` (without its line feed), or nullopt at the end of the
    // input or when a stop signal comes first (Take then hands it out). A signal
    // that suspends suspends the process and the wait goes on: questions are
    // asked only before the update begins.
    std::optional<std::string> ReadLine(int fd);

private:
    std::optional<int> ReadSignal();

    UniqueFd fd_;
    std::optional<int> pending_;
};
