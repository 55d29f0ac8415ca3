#include "app/sleep_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "app/sleep_inhibitor_testing.h"
#include "common/system_failure.h"

namespace {

// Frees what sd-bus handed out, whichever way the constructor leaves.
struct BusResources {
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusResources() = default;
    BusResources(const BusResources&) = delete;
    BusResources& operator=(const BusResources&) = delete;
    ~BusResources() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
    }
};

std::string ErrnoText(std::string_view step, int error) { return SystemFailure{std::string(step), error}.Text(); }

}  // namespace

bool& SleepInhibitionAsked() {
    static bool asked = true;
    return asked;
}

SleepInhibitor::SleepInhibitor(std::string_view who) {
    if (!SleepInhibitionAsked()) return;
    BusResources r;
    if (const int result = sd_bus_open_system(&r.bus); result < 0) {
        problem_ = ErrnoText("connecting to the system bus (sd_bus_open_system)", -result);
        return;
    }
    const std::string caller(who);
    const int result = sd_bus_call_method(r.bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                          "org.freedesktop.login1.Manager", "Inhibit", &r.error, &r.reply, "ssss",
                                          kInhibitedOperations, caller.c_str(), kInhibitReason, "block");
    if (result < 0) {
        problem_ = sd_bus_error_is_set(&r.error)
                       ? std::string("Inhibit: ") + r.error.name + ": " + (r.error.message ? r.error.message : "")
                       : ErrnoText("Inhibit", -result);
        return;
    }
    int lock = -1;
    if (const int read = sd_bus_message_read(r.reply, "h", &lock); read < 0) {
        problem_ = ErrnoText("reading Inhibit's reply", -read);
        return;
    }
    // The reply owns the descriptor it carries and closes it with the reply: the lock keeps a copy.
    lock_ = UniqueFd(::fcntl(lock, F_DUPFD_CLOEXEC, 3));
    if (!lock_) problem_ = ErrnoText("fcntl F_DUPFD_CLOEXEC on Inhibit's descriptor", errno);
}
