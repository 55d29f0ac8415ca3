#pragma once
// Keeps the machine awake while a monitor's firmware is updated: a logind
// inhibitor lock in "block" mode on sleep, shutdown, idle and the lid switch.
// logind hands the lock out as a file descriptor and keeps it while any copy of
// that descriptor is open, so the lock lives exactly as long as this object,
// whatever ends the process.
//
// Asked over the system bus with sd-bus, which both the window and the Qt-free
// quillon-cli link; DBUS_SYSTEM_BUS_ADDRESS, when set, names the bus. Without
// logind (no system bus, no login1 service, or the call refused) nothing is
// held and Problem() says why: the update goes on all the same.
#include <optional>
#include <string>
#include <string_view>

#include "common/unique_fd.h"

// What the lock holds off while an update runs.
inline constexpr char kInhibitedOperations[] = "sleep:shutdown:idle:handle-lid-switch";
// The reason `systemd-inhibit --list` shows for it.
inline constexpr char kInhibitReason[] = "Updating a monitor's firmware";

class SleepInhibitor {
public:
    // Asks logind once, on behalf of `who` (the program's name).
    explicit SleepInhibitor(std::string_view who);

    bool Held() const { return static_cast<bool>(lock_); }
    // Why no lock is held: the failed step and the sd-bus error, such as
    // "Inhibit: org.freedesktop.DBus.Error.ServiceUnknown: The name ...".
    // Empty when held, or when tests turned the asking off (sleep_inhibitor_testing.h).
    const std::optional<std::string>& Problem() const { return problem_; }

private:
    UniqueFd lock_;
    std::optional<std::string> problem_;
};
