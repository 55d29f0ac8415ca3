#pragma once
// The maker's other programs and services that must not run during an update,
// keyed by the executable name the process list reports for them.
#include <cstdint>
#include <map>
#include <string>

struct KnownProgram {
    std::string displayName;     // shown to the user
    std::string exeName;         // executable file name; the key of the table
    bool hiddenFromList = false; // closed without being listed to the user
    bool restartAfterUpdate = false;
    std::int32_t closeOrder = 0; // running programs are closed in ascending order
    std::string pipeName;        // local pipe that accepts the quit request; "" for none
    std::string serviceName;     // system service that runs the program; "" for none
};

// Built once on first use, from any thread, and never changed afterwards.
const std::map<std::string, KnownProgram>& GetKnownPrograms();
