#pragma once
// Every wait in the system goes through this clock. Production code uses the
// real clock; tests install a VirtualClock, which returns at once, advances its
// own time and records every wait so that a test can check the waits a
// protocol prescribes.
#include <cstdint>
#include <mutex>
#include <vector>

class Clock {
public:
    virtual ~Clock() = default;
    virtual void SleepMs(std::uint32_t ms) = 0;
    virtual std::uint64_t NowMs() = 0;  // monotonic milliseconds
};

// Sleeps the calling thread and reads a monotonic clock.
class RealClock final : public Clock {
public:
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
};

// Virtual time for tests; safe to use from several threads at once.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint64_t startMs = 0) : now_(startMs) {}
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t NowMs() override;

    void Advance(std::uint64_t ms);         // time passing without a wait
    std::vector<std::uint32_t> Waits();     // every SleepMs, in order
    void ClearWaits();

private:
    std::mutex mutex_;
    std::uint64_t now_;
    std::vector<std::uint32_t> waits_;
};

// The process-wide clock: the real one unless a test has installed another.
// Process-wide so that a test makes every wait of every layer virtual without
// passing a clock through each call.
Clock& SystemClock();
inline void SleepMs(std::uint32_t ms) { SystemClock().SleepMs(ms); }
inline std::uint64_t NowMs() { return SystemClock().NowMs(); }

// Installs a clock for the lifetime of this object, then puts the previous one back.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};
