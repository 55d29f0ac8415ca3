#include "emulator/device_transport.h"

#include <algorithm>

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
