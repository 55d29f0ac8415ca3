#include "emulator/device_transport.h"

#include <algorithm>
#include <cerrno>

#include "common/clock.h"

namespace {
constexpr std::uint32_t kWaitSliceMs = 100;
}

bool WaitOffTheBus(const Departure& departure, const std::atomic<bool>* stop) {
    if (!departure.comesBack) return false;
    for (std::uint32_t waited = 0; waited < departure.offMs;) {
        if (stop != nullptr && stop->load()) return false;
        const std::uint32_t slice = std::min(kWaitSliceMs, departure.offMs - waited);
        SleepMs(slice);
        waited += slice;
    }
    return true;
}

ReportReply GetHostReport(Monitor& monitor, ReportType type, std::uint8_t reportId) {
    return type == ReportType::Feature ? monitor.GetReport(reportId) : ReportReply{EIO, {}};
}

int SetHostReport(Monitor& monitor, ReportType type, std::span<const std::uint8_t> report) {
    return type == ReportType::Feature ? monitor.SetReport(report) : EIO;
}
