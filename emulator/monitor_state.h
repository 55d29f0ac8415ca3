#pragma once
// What a monitor keeps across power cycles, and its file form for --state.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/report_layout.h"

enum class MonitorMode : std::uint8_t {
    Running = 0,  // runs its firmware
    Update = 1,   // entered by a restart with the boot selector 1; accepts components
    Stopped = 2,  // lost power in its update state, or cannot run its firmware
};

struct MonitorState {
    MonitorMode mode = MonitorMode::Running;
    std::uint8_t bootSelector = 0;
    std::map<UsageAddress, std::vector<std::uint8_t>> settings;  // plain stored usages
    std::array<std::uint32_t, 256> indexedSettings{};
    std::array<std::vector<std::uint8_t>, 5> components;        // in ComponentAreas() order

    auto operator<=>(const MonitorState&) const = default;
};

std::vector<std::uint8_t> SerializeState(const MonitorState& state);
// Nothing when the bytes are not a whole, intact state file.
std::optional<MonitorState> DeserializeState(const std::vector<std::uint8_t>& bytes);

// Written atomically, so that a kill at any moment leaves the old or the new state.
bool SaveStateFile(const std::string& path, const MonitorState& state, std::string* fault);
// Nothing when the file does not exist; `fault` is set when it exists but cannot be used.
std::optional<MonitorState> LoadStateFile(const std::string& path, std::string* fault);
