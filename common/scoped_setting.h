#pragma once
// A process-wide setting changed for a scope and put back after it. The tests'
// seams (the update lock's name, the journal's socket, whether logind is asked)
// are each one of these over a setting its module keeps:
//   std::string& JournalSocketSetting();
//   using ScopedJournalSocket = ScopedSetting<std::string, &JournalSocketSetting>;
#include <utility>

template <typename T, T& (*Setting)()>
class ScopedSetting {
public:
    explicit ScopedSetting(T value) : previous_(std::exchange(Setting(), std::move(value))) {}
    ~ScopedSetting() { Setting() = std::move(previous_); }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    T previous_;
};
