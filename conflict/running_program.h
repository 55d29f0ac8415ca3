#pragma once
// Running instances of the maker's other programs: finding them, closing them
// for an update (a quit request, a service stop, then termination) and
// starting them again afterwards. Only CloseProgram reports a failure: a
// program that cannot be signalled (another user's) must not run beside the
// update. Otherwise a failed system call makes an operation do less. The calls
// whose failure leaves a program running or not started (the quit request's
// connect and send, the signal, the start) note it as this thread's system
// failure (common/system_failure.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "conflict/known_programs.h"

// Waits, in milliseconds, between the checks that a program has ended.
inline constexpr std::uint32_t kQuitCheckIntervalMs = 1000;
inline constexpr int kQuitChecks = 5;
inline constexpr std::uint32_t kServiceCheckIntervalMs = 5000;
inline constexpr int kServiceChecks = 6;
// A program asked to end (SIGTERM) is given 5 s to save its work, checked in
// slices, before it is forced (SIGKILL).
inline constexpr std::uint32_t kTerminateCheckIntervalMs = 100;
inline constexpr int kTerminateChecks = 50;

class RunningProgram {
public:
    RunningProgram(KnownProgram program, std::uint32_t processId, std::string exePath, bool underWine = false,
                std::shared_ptr<const UniqueFd> processHandle = nullptr, bool namedByCommandLineOnly = false);
    RunningProgram(const RunningProgram&) = default;
    RunningProgram& operator=(const RunningProgram&) = default;

    // Whether any process of this program runs (any instance counts).
    bool IsRunning() const;
    // Sends the quit request on the program's pipe, then checks up to five
    // times, a second apart, whether it is gone. True when it still runs.
    bool RequestQuit() const;
    // Asks the service manager to stop the service (not waited for), then
    // checks up to six times, five seconds apart, whether it is gone.
    void StopService() const;
    // Quit request, service stop (administrators only), then termination of
    // this instance if the program still runs: SIGTERM, and SIGKILL when it
    // has not ended after five seconds. False when a signal was refused (another
    // user's program): it still runs.
    bool CloseProgram() const;
    // Starts the program again when its row says so: its service, or its
    // executable on its own (a Windows program through Wine).
    void RestartProgram() const;

    KnownProgram program;
    std::uint32_t processId = 0;  // when listed; the instance may have ended since
    std::string exePath;          // "" when it could not be found
    bool underWine = false;
    // Known only by the name its command line gives (its executable could not
    // be read): any local user can start a process under a maker's program name.
    bool namedByCommandLineOnly = false;

private:
    enum class SignalResult { Sent, Gone, Refused };
    // Signals this very instance; a refusal is noted as this thread's system failure.
    SignalResult Signal(int signal) const;
    // Whether this very instance has ended.
    bool HasEnded() const;
    // SIGTERM, up to five seconds for the instance to end, then SIGKILL; false when refused.
    bool Terminate() const;

    // A handle on the very process that was listed (a pidfd), so that a
    // process ID reused by an unrelated process is never signalled. Null when
    // the kernel gave none; then the executable name is checked again instead.
    std::shared_ptr<const UniqueFd> processHandle_;
};

// The running instances of known programs, ordered by closeOrder (stable:
// equal orders keep process order).
std::vector<RunningProgram> ListRunningPrograms();
