#pragma once
// The signals that ask quillon-cli to stop (SIGINT, SIGTERM, SIGHUP), read from
// a signalfd instead of handled: nothing runs inside a handler, and the update
// loop decides between the window's exit path and a refusal. SIGPIPE is
// ignored, so that a lost terminal or a closed pipe never ends an update.
#include <optional>
#include <string>

#include "common/unique_fd.h"

class StopSignals {
public:
    // Blocks the stop signals on the calling thread; to be made before any other
    // thread starts, since threads inherit the mask and would otherwise take them.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // A stop signal that came, once; nullopt when none did.
    std::optional<int> Take();
    // One line from `fd` (without its line feed), or nullopt at the end of the
    // input or when a stop signal comes first (Take then hands it out).
    std::optional<std::string> ReadLine(int fd);

private:
    std::optional<int> ReadSignal();

    UniqueFd fd_;
    std::optional<int> pending_;
};
