#pragma once
// A HID platform with one interface whose every answer comes from the fuzzer:
// its attributes, its report descriptor and, one after the other, the bytes of
// every feature report the host reads. Input layout:
//
//   u8   vendor choice (index into the maker's vendor IDs, modulo their count)
//   u16  product ID, u16 version number
//   u16  descriptor length, then the descriptor
//   then the transfers, in order: each feature read or write takes one control
//   byte (see Outcome), and a read that succeeds then takes as many bytes as
//   its report is long (fewer at the end of the input). With no byte left a
//   transfer fails.
//
// A recording of a session with an emulated monitor in this layout replays
// that session exactly, since the host's requests depend only on the replies.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hid/hid_platform.h"

namespace hostile_monitor {

inline constexpr std::uint16_t kVendors[] = {0x7E52, 0x7E51, 0x7E53};
inline constexpr char kPath[] = "hostile:0";

// A control byte's outcome: its low four bits 0xE fail the transfer, 0xF are the
// device gone (hidraw's ENODEV); anything else succeeds. Recordings write 0.
HidIo Outcome(std::uint8_t control);

struct Script {
    HidAttributes attributes;
    std::vector<std::uint8_t> descriptor;
    std::span<const std::uint8_t> replies;
    std::size_t used = 0;
};

Script ParseScript(std::span<const std::uint8_t> input);

class Platform final : public HidPlatform {
public:
    explicit Platform(Script& script) : script_(script) {}
    std::optional<std::vector<std::string>> EnumeratePaths() override { return std::vector<std::string>{kPath}; }
    std::unique_ptr<HidConnection> Open(const std::string& path, bool readAccess) override;
    std::unique_ptr<DeviceEvents> WatchDevices() override { return nullptr; }

private:
    Script& script_;
};

// Drives the monitor layer through what an update does first: discovery,
// identity, the version text, and writing one AIC653 component of `component`.
// True when the component write succeeded.
bool DriveMonitorLayer(std::span<const std::uint8_t> component);

// The AIC653 component the driver writes: an image the emulated monitors take.
std::vector<std::uint8_t> DriverComponent();

}  // namespace hostile_monitor
