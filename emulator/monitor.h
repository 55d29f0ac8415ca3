#pragma once
// One emulated monitor: a state machine that answers feature report gets and
// sets as the monitor's HID interface would, on the process clock. It knows
// nothing of sockets; a server (or a test) carries its reports and acts on its
// departures (restart, power loss).
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulator/monitor_config.h"
#include "emulator/monitor_state.h"
#include "emulator/report_layout.h"
#include "emulator/transfer_log.h"

struct ReportReply {
    int err = 0;                      // 0, or an errno value
    std::vector<std::uint8_t> data;   // report ID first, the report's full length
};

struct InterfaceAttributes {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t version = 0;        // the USB device release number
};

// The monitor has left the bus. It comes back after offMs (call PlugIn then),
// unless comesBack is false.
struct Departure {
    std::uint32_t offMs = 0;
    bool comesBack = true;
    bool powerLoss = false;
};

inline constexpr std::uint16_t kVersionNumberInUpdate = 40000;

class Monitor {
public:
    // Loads config.statePath when it exists (a power-on with that state);
    // StartupFault() tells when the file exists but cannot be used, or when
    // areaScale is one the block counts cannot take (the normal areas are kept).
    explicit Monitor(MonitorConfig config);

    const std::string& StartupFault() const { return startupFault_; }

    // The interface as it is plugged in now.
    InterfaceAttributes Attributes() const;
    // The identity, the same in every mode (USB string descriptors carry it).
    const std::string& Serial() const { return config_.serial; }
    const std::string& Model() const { return config_.model; }
    std::vector<std::uint8_t> Descriptor() const;
    bool PluggedIn() const;

    ReportReply GetReport(std::uint8_t reportId);
    int SetReport(std::span<const std::uint8_t> report);

    // After a transfer: whether the monitor has just left the bus.
    std::optional<Departure> TakeDeparture();
    // Boots and plugs in again after a departure.
    void PlugIn();

    // For tests and the command line.
    void SetLog(TransferLog* log);
    void AddFaults(const FaultPlan& faults);
    MonitorMode Mode() const;
    VersionFields RunningVersion() const;
    std::vector<std::uint8_t> HeldComponent(std::size_t area) const;
    // Clock time all transfers so far have taken (config.transferTime), in whole
    // milliseconds as they were slept.
    std::uint64_t TransferTimeMs() const;
    // This monitor's component areas (ComponentAreas() scaled by config.areaScale).
    const ComponentArea& Area(std::size_t area) const { return areas_.at(area); }
    std::uint16_t TunnelToken() const;
    std::uint16_t OwnerValue() const;
    std::uint32_t IndexedSetting(std::uint8_t index) const;
    MonitorState State() const;
    // Puts a value into a stored setting without a write, for tests of hosts
    // that meet a value the monitor would refuse to take (as some monitors
    // answer 2 for setting B8).
    void HoldSetting(UsageAddress address, std::vector<std::uint8_t> value);
    // How often the monitor has booted: a power-on and every restart count.
    std::uint32_t Boots() const { return bootCount_; }
    // How often it has lost its power through the faults unplug-at and unplug-after.
    std::uint32_t PowerLosses() const;
    // Whether a power cut of the fault plan is still to come.
    bool PowerCutPending() const;
    // Whether the control lock is held now (written with a mode and not yet
    // released, expired, or lost with the power).
    bool LockHeld() const;

private:
    struct Selection {
        std::optional<std::size_t> area;
        std::array<std::uint8_t, 6> id{};
        std::uint16_t block = 0;
        std::uint16_t packet = 0;
    };
    struct Checksum {
        std::array<std::uint8_t, 10> request{};
        std::uint64_t readyAtMs = 0;
        std::uint32_t crc = 0;
        bool requested = false;
    };

    using Bytes = std::vector<std::uint8_t>;
    bool IsTunnel() const { return config_.kind != MonitorKind::OlderNative; }

    void Boot(bool powerCycle);
    void BuildInterface();
    void InitialiseDefaults();
    void Charge(std::size_t reportBytes);
    void Log(bool isSet, std::uint8_t reportId, std::optional<UsageAddress> tunnelled, int err,
             std::span<const std::uint8_t> bytes);
    bool PowerFails();
    bool PowerFailsAfter();
    void LosePower();
    // Whether component writes (announcement, packets) are taken in this mode.
    bool TakesComponents() const;
    std::optional<Bytes> GetLock(std::size_t length);
    int SetLock(std::span<const std::uint8_t> data);
    void Persist();

    // The interface's own page-0xFF30 usages of a tunnel monitor.
    std::optional<Bytes> GetTunnelInterface(std::uint16_t usage, std::size_t length);
    int SetTunnelInterface(std::uint16_t usage, std::span<const std::uint8_t> payload,
                           std::optional<UsageAddress>& tunnelled);
    int TunnelRequest(std::uint16_t channel, std::span<const std::uint8_t> payload,
                      std::optional<UsageAddress>& tunnelled);

    // The monitor's functions, by usage, whichever way they were reached.
    std::optional<Bytes> GetUsage(UsageAddress address, std::size_t length);
    int SetUsage(UsageAddress address, std::span<const std::uint8_t> data);
    int WritePacket(std::size_t area, std::uint16_t block, std::uint16_t packet, std::span<const std::uint8_t> data);
    std::optional<std::size_t> PacketOffset(std::size_t area, std::uint16_t block, std::uint16_t packet) const;
    std::string VersionRecordText(std::uint16_t selector) const;

    mutable std::mutex mutex_;
    MonitorConfig config_;
    std::array<ComponentArea, 5> areas_;
    MonitorState state_;
    std::string startupFault_;
    TransferLog* log_ = nullptr;

    // The interface of this boot.
    bool pluggedIn_ = true;
    std::optional<Departure> departure_;
    bool powerLost_ = false;
    InterfaceAttributes attributes_;
    Bytes interfaceDescriptor_, tunnelledDescriptor_;
    ReportLayout interfaceLayout_, tunnelledLayout_;
    VersionFields running_{};
    std::uint16_t tunnelToken_ = 0;
    std::uint32_t bootCount_ = 0;
    std::uint32_t powerLosses_ = 0;

    // Volatile state of this boot.
    std::size_t chunkOffset_ = 0;
    std::array<std::optional<Bytes>, 4> pendingReplies_;  // read channels 0x0003, 0x0005, 0x000C, 0x000E
    std::uint16_t versionSelector_ = 0;
    Selection selection_;
    Checksum checksum_;
    std::optional<std::uint64_t> completionUntilMs_;
    std::uint8_t busy_ = 0;
    std::uint32_t indexedValue_ = 0;
    std::optional<std::uint8_t> indexedWrite_;
    // The block counts announced since this boot, per area: packets go only there.
    std::array<std::optional<std::uint16_t>, 5> announced_;
    std::array<std::uint8_t, 2> lock_{};  // [mode, seconds]; mode 0: free
    std::uint64_t lockUntilMs_ = 0;
    std::uint16_t identify_ = 0;          // the identification indicator, not kept
    std::uint64_t transfers_ = 0;
    std::uint64_t debtUs_ = 0;
    std::uint64_t transferTimeMs_ = 0;
};
