#pragma once
// How a monitor reaches hosts: a UNIX socket per plug-in, /dev/uhid, or USB/IP.
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "emulator/monitor.h"

class DeviceTransport {
public:
    virtual ~DeviceTransport() = default;
    // Plugs the monitor in; false with `fault` set when it cannot.
    virtual bool PlugIn(std::string* fault) = 0;
    // Serves until `stop` is set (`wakeFd` becomes readable then), then unplugs.
    virtual void Run(const std::atomic<bool>& stop, int wakeFd) = 0;
    // Where hosts find the monitor now, for the program's output.
    virtual std::string Where() const = 0;
};

// Waits a departed monitor's off time on the clock, in slices so that a stop
// is not held up. True when the monitor is to plug in again.
bool WaitOffTheBus(const Departure& departure, const std::atomic<bool>* stop);

// A host's GET_REPORT and SET_REPORT, as every transport hands them to the
// monitor. It has feature reports only: any other type is refused with EIO.
// ENODEV means the monitor lost power during the request: no answer is sent.
enum class ReportType { Input = 1, Output = 2, Feature = 3 };  // as the HID class numbers them
ReportReply GetHostReport(Monitor& monitor, ReportType type, std::uint8_t reportId);
int SetHostReport(Monitor& monitor, ReportType type, std::span<const std::uint8_t> report);
