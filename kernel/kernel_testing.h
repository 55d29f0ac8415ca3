#pragma once
// What the kernel suite's tests share: the monitors they plug in through the
// monitor-emulator program, on USB (vhci_hcd) or uhid, and waits on real time,
// since the kernel enumerates devices in real time.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/app_testing.h"
#include "common/clock.h"
#include "emulator/descriptors.h"
#include "hid/hid_platform.h"

namespace kernel_testing {

enum class Transport { Usb, Uhid };

struct Kind {
    MonitorKind kind;
    const char* name;  // as monitor-emulator's --kind takes it
    std::uint16_t vendor;
    std::uint16_t product;  // in normal operation
};

inline constexpr Kind kOlderNative{MonitorKind::OlderNative, "older-native", 0x7E51, 0x4001};
inline constexpr Kind kOlderTunnel{MonitorKind::OlderTunnel, "older-tunnel", 0x7E52, 0x4102};
inline constexpr Kind kCombinedTunnel{MonitorKind::CombinedTunnel, "combined-tunnel", 0x7E53, 0x4203};
inline constexpr Kind kAllKinds[] = {kOlderNative, kOlderTunnel, kCombinedTunnel};

// Where the program plugs its monitors in: `transport`, or a socket directory.
inline std::vector<std::string> PlugIn(Transport transport) {
    return {transport == Transport::Usb ? "--usbip" : "--uhid"};
}
inline std::vector<std::string> PlugIn(const std::string& socketDirectory) { return {"--dir", socketDirectory}; }

// The command line of one monitor, with the emulated timings at their shortest.
inline std::vector<std::string> EmulatorArgs(std::vector<std::string> where, const Kind& kind,
                                             const std::string& serial, const std::string& statePath = "",
                                             const std::string& logPath = "") {
    std::vector<std::string> args = std::move(where);
    args.insert(args.end(), {"--kind", kind.name, "--serial", serial, "--model", "QX2701", "--restart-seconds", "1",
                             "--transfer-time", "0,0"});
    if (!statePath.empty()) args.insert(args.end(), {"--state", statePath});
    if (!logPath.empty()) args.insert(args.end(), {"--log", logPath});
    return args;
}
inline std::vector<std::string> EmulatorArgs(Transport transport, const Kind& kind, const std::string& serial,
                                             const std::string& statePath = "", const std::string& logPath = "") {
    return EmulatorArgs(PlugIn(transport), kind, serial, statePath, logPath);
}

// What a monitor's transfer log (--log) holds so far: every transfer, and the
// component packets it took (combined or not).
struct LoggedTransfers {
    int transfers = 0;
    int packets = 0;
};
inline LoggedTransfers CountLoggedTransfers(const std::string& logPath) {
    LoggedTransfers counts;
    std::ifstream log(logPath);
    for (std::string line; std::getline(log, line);) {
        ++counts.transfers;
        if (line.find(" SET ") != std::string::npos && line.find(" ok") != std::string::npos &&
            (line.find("FF02:00C7") != std::string::npos || line.find("FF02:00FE") != std::string::npos))
            ++counts.packets;
    }
    return counts;
}

// A test name from a kind's name ("older-native" gives "older_native").
inline std::string TestName(std::string name) {
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

// Polls `done` on the process clock (real time here) every 50 ms for up to
// `limitMs`; true once it holds.
inline bool WaitUntil(const std::function<bool()>& done, std::uint64_t limitMs) {
    const std::uint64_t end = NowMs() + limitMs;
    while (!done()) {
        if (NowMs() >= end) return false;
        SleepMs(50);
    }
    return true;
}

// The hidraw path of the interface with this vendor, if one is present.
inline std::optional<std::string> FindInterface(HidPlatform& platform, std::uint16_t vendor,
                                                std::optional<std::uint16_t> product = std::nullopt) {
    char id[32];
    if (product)
        std::snprintf(id, sizeof id, "#VID_%04X&PID_%04X#", vendor, *product);
    else
        std::snprintf(id, sizeof id, "#VID_%04X&PID_", vendor);
    const auto paths = platform.EnumeratePaths();
    if (!paths) return std::nullopt;
    for (const std::string& path : *paths)
        if (path.find(id) != std::string::npos) return path;
    return std::nullopt;
}

// How long the kernel may take to show a plugged-in device (USB enumeration,
// the HID driver, udev) on an emulated machine.
inline constexpr std::uint64_t kArrivalLimitMs = 20'000;

// What a shell command prints on stdout and stderr.
inline std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer;
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
        ::pclose(pipe);
    }
    return output;
}

// The sysfs path of a hidraw interface (/sys/class/hidraw/hidrawN).
inline std::string SysPathOf(const std::string& hidrawPath) {
    const std::string node = hidrawPath.substr(0, hidrawPath.find('#'));
    return "/sys/class/hidraw/" + node.substr(node.rfind('/') + 1);
}

// Whether udev's report on a device (udevadm test or info) has the tag "uaccess".
inline bool TagsUaccess(const std::string& udevOutput) {
    for (std::size_t at = 0; (at = udevOutput.find("TAGS=", at)) != std::string::npos; ++at) {
        const std::size_t end = udevOutput.find('\n', at);
        if (udevOutput.substr(at, end - at).find(":uaccess:") != std::string::npos) return true;
    }
    return false;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A device rule in udev's runtime rules folder for the object's life. udevd
// reads its rules again before it handles the next device. The suite runs
// chrooted into this machine's root, where udevadm ignores what it is asked
// unless told to go ahead.
class InstalledDeviceRule {
public:
    explicit InstalledDeviceRule(const std::string& text) {
        std::filesystem::create_directories(kFolder);
        std::ofstream(kPath, std::ios::binary | std::ios::trunc) << text;
        loaded_ = ReadFile(kPath) == text && std::system(kReload) == 0;
    }
    ~InstalledDeviceRule() {
        std::error_code ignored;
        std::filesystem::remove(kPath, ignored);
        std::system(kReload);
    }
    InstalledDeviceRule(const InstalledDeviceRule&) = delete;
    InstalledDeviceRule& operator=(const InstalledDeviceRule&) = delete;

    // Whether the rule is in place and udevd was told to read it.
    bool Loaded() const { return loaded_; }

private:
    static constexpr const char* kReload = "SYSTEMD_IGNORE_CHROOT=1 udevadm control --reload-rules";
    static constexpr const char* kFolder = "/run/udev/rules.d";
    static constexpr const char* kPath = "/run/udev/rules.d/70-quillon-monitors.rules";
    bool loaded_ = false;
};

// Runs the updater as a user would, again after each failed run, until a run
// reports the update complete or `maxRuns` have run. The messages of each run.
inline std::vector<std::vector<TextId>> UpdateUntilComplete(const std::string& folder, int maxRuns) {
    std::vector<std::vector<TextId>> messagesPerRun;
    for (int i = 0; i < maxRuns; ++i) {
        app_testing::ScriptedView view;
        MainWorkflow run(view);
        // The package and the record in one folder, as the portable layout keeps them.
        run.Run().packageFolder = folder;
        run.Run().stateFolders = StateFolders{folder, {}};
        app_testing::RunToEnd(run, view);
        if (!run.Ended()) run.Close();
        messagesPerRun.push_back(view.MessageIds());
        if (view.MessageIds() == std::vector<TextId>{text_id::kComplete}) break;
    }
    return messagesPerRun;
}

}  // namespace kernel_testing
