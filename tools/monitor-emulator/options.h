#pragma once
// The command line of monitor-emulator.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/monitor_config.h"

struct MonitorOptions {
    MonitorConfig config;
    std::string logPath;
};

struct ServeOptions {
    std::string dir;
    bool uhid = false;
    bool usbip = false;   // each monitor a USB device on vhci_hcd
    std::vector<MonitorOptions> monitors;
};

struct ImageOptions {
    std::string component;
    std::uint16_t version = 0;
    std::optional<std::size_t> length;
    std::string output;
};

struct CommandLine {
    std::optional<ServeOptions> serve;
    std::optional<ImageOptions> image;
    bool help = false;
};

// Nothing, with `error` set, for a command line that cannot be used.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

// "busy=3", "no-return", ... added to `faults`; false for an unknown or malformed fault.
bool ParseFault(const std::string& text, FaultPlan& faults);

extern const char* const kUsage;
