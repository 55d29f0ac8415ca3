#pragma once
// Device objects: one per HID interface, through which the monitor layer
// reads and writes feature usages by (usage page, usage) without knowing
// report IDs, lengths or bit positions. CHidDevice is the abstract base whose
// operations all have harmless defaults; CHidWin is the device class used
// for every interface. The virtual operations keep a fixed order (slots 0-21).
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

inline constexpr Status kHidTransferFailed = 0x80000000;  // feature transfer or field extraction failed
inline constexpr Status kHidButtonFailed = 0x80000001;    // button transfer failed; reader not started / not running
inline constexpr Status kHidNoSuchUsage = 0x80000002;
inline constexpr Status kHidNotSupported = 0x80000003;    // defaults of CHidDevice

class CHidDevice;
// Called on the reader thread for each fresh input field. `data` runs to the end of the report buffer.
using HidInputCallback = void (*)(CHidDevice* device, std::uint16_t usagePage, std::uint16_t usage,
                                  std::uint16_t size, std::uint16_t count, std::span<const std::uint8_t> data,
                                  void* userData);
using HidStoppedCallback = void (*)(CHidDevice* device, void* userData);

class CHidDevice {
public:
    explicit CHidDevice(HidInterfaceRecordPtr record) : interfaceRecord_(std::move(record)) {}
    CHidDevice(const CHidDevice&) = delete;
    CHidDevice& operator=(const CHidDevice&) = delete;

    // Result parameters given as pointers are optional: nullptr means not wanted.
    virtual ~CHidDevice() = default;                                                   // 0
    virtual bool HasUsage(std::uint16_t, std::uint16_t) { return false; }              // 1
    virtual bool HasUsagePage(std::uint16_t) { return false; }                         // 2
    virtual Status GetUsageInfoEx(std::uint16_t, std::uint16_t, std::uint8_t*, std::int32_t*, std::int32_t*, bool*,
                                  std::int32_t*, std::uint16_t*, std::uint16_t*) {    // 3
        return kHidNotSupported;
    }
    virtual Status GetUsageInfo(std::uint16_t, std::uint16_t, std::uint8_t*, std::int32_t*, std::int32_t*, bool*,
                                std::int32_t*) {                                      // 4
        return kHidNotSupported;
    }
    virtual Status GetFeatureReport(std::uint16_t, std::uint16_t, std::span<std::uint8_t>) { return kHidNotSupported; }        // 5
    virtual Status SetFeatureReport(std::uint16_t, std::uint16_t, std::span<const std::uint8_t>) { return kHidNotSupported; }  // 6
    virtual Status GetFeatureValue(std::uint16_t, std::uint16_t, std::uint32_t&) { return kHidNotSupported; }   // 7
    virtual Status SetFeatureValue(std::uint16_t, std::uint16_t, std::uint32_t) { return kHidNotSupported; }    // 8
    virtual Status GetFeatureButton(std::uint16_t, std::uint16_t, std::uint32_t&) { return kHidNotSupported; }  // 9
    virtual Status SetFeatureButton(std::uint16_t, std::uint16_t, std::uint32_t) { return kHidNotSupported; }   // 10
    virtual std::uint16_t GetVendorId() { return 0; }                                  // 11
    virtual std::uint16_t GetProductId() { return 0; }                                 // 12
    virtual std::uint16_t GetProductClass() { return 0; }                              // 13
    virtual std::uint16_t GetVersionNumber() { return 0; }                             // 14
    virtual Status GetUsagePages(std::vector<std::uint16_t>&) { return kHidNotSupported; }                // 15
    virtual bool IsConnected() { return false; }                                       // 16
    virtual Status GetUsages(std::uint16_t, std::vector<std::uint16_t>&) { return kHidNotSupported; }     // 17
    virtual Status CloseInterface() { return kHidNotSupported; }                       // 18
    virtual Status StartInputReader(HidInputCallback, HidStoppedCallback, void*, bool) { return kHidNotSupported; }  // 19
    virtual Status StopInputReader() { return kHidNotSupported; }                      // 20

    // The interface's device path ("" once the interface is closed).
    std::string GetDevicePath() const { return interfaceRecord_ ? interfaceRecord_->devicePath : std::string(); }
    // True once the device was found to declare the descriptor transfer usage, even when the transfer failed.
    bool HasDescriptor() const { return hasDescriptor_; }
    std::uint16_t TunnelToken() const { return tunnelToken_; }
    // First top-level item of the descriptor read through the tunnel; empty without one.
    const reportdescriptor::MainItem& Root() const { return root_; }

protected:
    HidInterfaceRecordPtr interfaceRecord_;
    bool hasDescriptor_ = false;
    std::uint16_t tunnelToken_ = 0;
    reportdescriptor::MainItem root_;
};

class CHidWin : public CHidDevice {
public:
    // Takes the record over. For an interface with the vendor tunnel this reads
    // the tunnel token and the vendor descriptor; otherwise it does no device I/O.
    explicit CHidWin(HidInterfaceRecordPtr record);
    ~CHidWin() override;

    bool HasUsage(std::uint16_t usagePage, std::uint16_t usage) override;
    bool HasUsagePage(std::uint16_t usagePage) override;
    Status GetUsageInfoEx(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId,
                          std::int32_t* logicalMax, std::int32_t* logicalMin, bool* notFound, std::int32_t* byteSize,
                          std::uint16_t* bitSize, std::uint16_t* reportCount) override;
    Status GetUsageInfo(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId, std::int32_t* logicalMax,
                        std::int32_t* logicalMin, bool* notFound, std::int32_t* byteSize) override;
    Status GetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<std::uint8_t> buffer) override;
    Status SetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<const std::uint8_t> buffer) override;
    Status GetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value) override;
    Status SetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value) override;
    Status GetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value) override;
    Status SetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value) override;
    std::uint16_t GetVendorId() override;
    std::uint16_t GetProductId() override;
    std::uint16_t GetProductClass() override;
    std::uint16_t GetVersionNumber() override;
    Status GetUsagePages(std::vector<std::uint16_t>& list) override;
    bool IsConnected() override;
    Status GetUsages(std::uint16_t usagePage, std::vector<std::uint16_t>& list) override;
    Status CloseInterface() override;
    Status StartInputReader(HidInputCallback inputCallback, HidStoppedCallback stoppedCallback, void* userData,
                            bool raw) override;
    Status StopInputReader() override;
    // Serial number (bytes 0-7) and model name (bytes 8-15) of 0xFF00:0x0035, each up to its first space or zero.
    virtual Status GetIdentStrings(std::string& text1, std::string& text2);  // 21

private:
    template <typename T>
    using UsageTable = std::map<std::uint16_t, std::multimap<std::uint16_t, T*>>;

    void BuildTables();
    void ReadDescriptor(std::size_t chunkLength);
    HidDataItem* FindData(std::uint16_t usagePage, std::uint16_t usage);
    const std::vector<std::uint8_t>* FetchFeature(HidDataItem& item, std::size_t wanted);
    void ReaderLoop();

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

// Seeds the generator of the descriptor transfer's retry delays (process-wide).
void SeedHidRetryRandom(std::uint32_t seed);

// Limits that keep a hostile device from exhausting the host.
// Button usages registered per device (a capability may declare a 65536-usage range).
inline constexpr std::size_t kMaxButtonUsagesPerDevice = 65536;
// Mismatched chunks in one descriptor transfer, consecutive or not (each costs a 50-500 ms wait).
inline constexpr int kMaxDescriptorMismatchesInAll = 200;
