#pragma once
// A monitor-emulator program run by the kernel suite: started with its command
// line, ready once it has printed where each monitor is, stopped with SIGTERM
// (the monitors unplugged cleanly) or killed (a power cut: nothing is unplugged
// by the program, the kernel sees the device vanish).
#include <sys/types.h>

#include <string>
#include <vector>

#include "common/unique_fd.h"

class EmulatorProcess {
public:
    // Starts the program and waits, up to `readyMs` of real time, for one line on
    // its stdout per monitor. Fails the calling test (and is not Running()) when
    // it exits or stays silent.
    EmulatorProcess(const std::vector<std::string>& args, int monitors, int readyMs = 30'000);
    ~EmulatorProcess();  // Stop()
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    // What the program printed: where each monitor is.
    const std::vector<std::string>& Where() const { return where_; }
    // SIGTERM and the exit status (-1 when it was not running).
    int Stop();
    // SIGKILL: the power goes.
    void Kill();

    // The program: $QUILLON_MONITOR_EMULATOR, else the one built beside this suite.
    static std::string ProgramPath();

private:
    pid_t pid_ = -1;
    UniqueFd stdout_;
    std::vector<std::string> where_;
};
