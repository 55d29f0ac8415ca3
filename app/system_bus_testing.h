#pragma once
// Tests only: a system bus of the test's own, so that no test reaches the
// machine's logind. While the object lives, DBUS_SYSTEM_BUS_ADDRESS names it
// and runs ask for their inhibitor lock (sleep_inhibitor_testing.h).
//
// The bus is a dbus-daemon on a socket in a temporary folder, ready once it
// has printed its address. logind on it is python3-dbusmock's logind template,
// which the bus starts at the first call to org.freedesktop.login1, so that
// nothing waits for the mock to come up; the mock ends with its bus. Its
// Inhibit is replaced: each lock it hands out is the write end of a FIFO in the
// test's folder, so that the test finds the lock among its own descriptors by
// the FIFO's name. The FIFO's hang-up is no exact sign of the release: the bus
// and the mock close their copies of a descriptor they passed on only some
// moments after the reply has arrived.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "app/sleep_inhibitor_testing.h"
#include "common/temp_dir_testing.h"
#include "common/unique_fd.h"

// The arguments of one call to logind's Inhibit.
struct InhibitCall {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
};

class TestSystemBus {
public:
    enum class Logind {
        NoBus,     // the address names a socket that is not there
        Missing,   // a bus with no login1 service on it
        Granting,  // Inhibit hands out a lock
        Refusing,  // Inhibit fails with org.freedesktop.DBus.Error.AccessDenied
    };
    explicit TestSystemBus(Logind logind);
    ~TestSystemBus();
    TestSystemBus(const TestSystemBus&) = delete;
    TestSystemBus& operator=(const TestSystemBus&) = delete;

    // Every call to Inhibit so far, asked of the mock.
    std::vector<InhibitCall> InhibitCalls() const;
    // This process holds a lock the mock handed out.
    bool LockHeldHere() const;

private:
    void StartDaemon(bool withLogind);
    // Calls a method of dbusmock's control interface on logind's object.
    void CallMock(const char* method, const std::string& code) const;

    TempDir dir_;
    std::optional<std::string> previousAddress_;
    ScopedSleepInhibition asked_{true};
    pid_t daemon_ = -1;
    std::string lockFifo_;
    UniqueFd lockFifoReader_;  // open, so that the mock can open the writing end without waiting
};
