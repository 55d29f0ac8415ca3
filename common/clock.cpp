#include "common/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

RealClock& TheRealClock() {
    static RealClock clock;
    return clock;
}

std::atomic<Clock*> g_installed{nullptr};

}  // namespace

void RealClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t RealClock::NowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void VirtualClock::SleepMs(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
    waits_.push_back(ms);
}

std::uint64_t VirtualClock::NowMs() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::Advance(std::uint64_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
}

std::vector<std::uint32_t> VirtualClock::Waits() {
    std::lock_guard lock(mutex_);
    return waits_;
}

void VirtualClock::ClearWaits() {
    std::lock_guard lock(mutex_);
    waits_.clear();
}

Clock& SystemClock() {
    Clock* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : TheRealClock();
}

ScopedClock::ScopedClock(Clock& clock)
    : previous_(g_installed.exchange(&clock, std::memory_order_acq_rel)) {}

ScopedClock::~ScopedClock() { g_installed.store(previous_, std::memory_order_release); }
