#pragma once
// Device objects: one per HID interface, through which the monitor layer
// reads and writes feature usages by (usage page, usage) without knowing
// report IDs, lengths or bit positions.
#include <atomic>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/status.h"
#include "hid/interface_record.h"
#include "hid/report_descriptor.h"

// Status codes of the HID layer (see common/status.h); the monitor layer turns
// them into its own before they go further up.
inline constexpr Status kHidTransferFailed = 0x80000000;  // feature transfer or field extraction failed
inline constexpr Status kHidButtonFailed = 0x80000001;    // button transfer failed; reader not started / not running
inline constexpr Status kHidNoSuchUsage = 0x80000002;    // the device has no such feature usage

class HidDevice;
// Called on the reader thread for each fresh input field. `data` runs to the end of the report buffer.
using HidInputCallback = void (*)(HidDevice* device, std::uint16_t usagePage, std::uint16_t usage,
                                  std::uint16_t size, std::uint16_t count, std::span<const std::uint8_t> data,
                                  void* userData);
using HidStoppedCallback = void (*)(HidDevice* device, void* userData);

class HidDevice {
public:
    // Takes the record over. For an interface with the vendor tunnel this reads
    // the tunnel token and the vendor descriptor; otherwise it does no device I/O.
    explicit HidDevice(HidInterfaceRecordPtr record);
    ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Result parameters given as pointers are optional: nullptr means not wanted.
    bool HasUsage(std::uint16_t usagePage, std::uint16_t usage);
    bool HasUsagePage(std::uint16_t usagePage);
    Status GetUsageInfoEx(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId,
                          std::int32_t* logicalMax, std::int32_t* logicalMin, bool* notFound, std::int32_t* byteSize,
                          std::uint16_t* bitSize, std::uint16_t* reportCount);
    Status GetUsageInfo(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId, std::int32_t* logicalMax,
                        std::int32_t* logicalMin, bool* notFound, std::int32_t* byteSize);
    Status GetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<std::uint8_t> buffer);
    Status SetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<const std::uint8_t> buffer);
    Status GetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value);
    Status SetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value);
    Status GetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value);
    Status SetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value);
    std::uint16_t GetVendorId();
    std::uint16_t GetProductId();
    std::uint16_t GetProductClass();
    std::uint16_t GetVersionNumber();
    Status GetUsagePages(std::vector<std::uint16_t>& list);
    bool IsConnected();
    Status GetUsages(std::uint16_t usagePage, std::vector<std::uint16_t>& list);
    Status CloseInterface();
    Status StartInputReader(HidInputCallback inputCallback, HidStoppedCallback stoppedCallback, void* userData,
                            bool raw);
    Status StopInputReader();
    // Serial number (bytes 0-7) and model name (bytes 8-15) of 0xFF00:0x0035, each up to its first space or zero.
    Status GetIdentStrings(std::string& text1, std::string& text2);

    // The interface's device path ("" once the interface is closed).
    std::string GetDevicePath() const { return interfaceRecord_ ? interfaceRecord_->devicePath : std::string(); }
    // True once the device was found to declare the descriptor transfer usage, even when the transfer failed.
    bool HasDescriptor() const { return hasDescriptor_; }
    std::uint16_t TunnelToken() const { return tunnelToken_; }
    // First top-level item of the descriptor read through the tunnel; empty without one.
    const reportdescriptor::MainItem& Root() const { return root_; }
    // The feature item of that descriptor that declares (usagePage, usage), or
    // null: reportdescriptor::FindFeatureItem, searched once per usage, since the
    // tunnel asks for it at every transfer.
    const reportdescriptor::MainItem* TunnelledFeature(std::uint16_t usagePage, std::uint16_t usage);

private:
    template <typename T>
    using UsageTable = std::map<std::uint16_t, std::multimap<std::uint16_t, T*>>;

    void BuildTables();
    void ReadDescriptor(std::size_t chunkLength);
    HidDataItem* FindData(std::uint16_t usagePage, std::uint16_t usage);
    const std::vector<std::uint8_t>* FetchFeature(HidDataItem& item, std::size_t wanted);
    void ReaderLoop();

    HidInterfaceRecordPtr interfaceRecord_;
    bool hasDescriptor_ = false;
    std::uint16_t tunnelToken_ = 0;
    reportdescriptor::MainItem root_;
    // Found in root_, which never changes after the constructor; keyed by page << 16 | usage.
    std::map<std::uint32_t, const reportdescriptor::MainItem*> tunnelledFeatures_;

    // Point into interfaceRecord_ and live exactly as long as it.
    UsageTable<HidDataItem> featureData_;
    UsageTable<const HidValueCaps> featureValueCaps_;
    UsageTable<const HidButtonCaps> featureButtonCaps_;

    HidInterfaceRecordPtr readerRecord_;
    HidInputCallback inputCallback_ = nullptr;
    HidStoppedCallback stoppedCallback_ = nullptr;
    void* userData_ = nullptr;
    bool raw_ = false;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Seeds the generator of the descriptor transfer's retry delays. One generator
// for the process, so that a test can make every device's delays repeatable.
void SeedHidRetryRandom(std::uint32_t seed);

// Limits that keep a hostile device from exhausting the host.
// Button usages registered per device (a capability may declare a 65536-usage range).
inline constexpr std::size_t kMaxButtonUsagesPerDevice = 65536;
// Mismatched chunks in one descriptor transfer, consecutive or not (each costs a 50-500 ms wait).
inline constexpr int kMaxDescriptorMismatchesInAll = 200;
