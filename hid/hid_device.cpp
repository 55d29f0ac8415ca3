#include "hid/hid_device.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <random>
#include <system_error>

#include "common/bytes.h"
#include "common/clock.h"

namespace {

constexpr std::uint16_t kTunnelPage = 0xFF30;
constexpr std::uint16_t kDescriptorUsage = 0x0001;
constexpr std::uint16_t kTokenUsage = 0x0006;
constexpr std::uint16_t kIdentPage = 0xFF00;
constexpr std::uint16_t kIdentUsage = 0x0035;

// Button and value transfers use a fixed short report.
constexpr std::size_t kValueReportLength = 5;  // report ID + 32-bit value
constexpr std::size_t kIsConnectedProbeLength = 10;

// Descriptor transfer chunk: offset, total, then payload.
constexpr std::size_t kChunkOffset = 0;
constexpr std::size_t kChunkTotal = 2;
constexpr std::size_t kChunkPayload = 4;
constexpr int kMaxConsecutiveMismatches = 20;
constexpr std::uint32_t kRetryStepMs = 50;  // waits of 50, 100, ... 500 ms

// Reader: how long one wait for an input report lasts before the stop flag is checked again.
constexpr int kReaderSliceMs = 1000;

constexpr std::uint8_t kReportSizeTag = 0x74;
constexpr std::uint8_t kReportCountTag = 0x94;

std::mutex g_randomMutex;
std::mt19937 g_random;  // default-seeded until SeedHidRetryRandom

std::uint32_t RetryDelayMs() {
    std::lock_guard lock(g_randomMutex);
    return kRetryStepMs * (g_random() % 10 + 1);
}

template <typename Table>
auto FindFirst(Table& table, std::uint16_t usagePage, std::uint16_t usage) -> decltype(table.begin()->second.begin()->second) {
    const auto page = table.find(usagePage);
    if (page == table.end()) return nullptr;
    const auto entry = page->second.find(usage);  // the first entry inserted for the usage
    return entry == page->second.end() ? nullptr : entry->second;
}

std::uint16_t FirstUsage(const HidCapsCommon& caps) { return caps.isRange ? caps.usageMin : caps.usage; }

}  // namespace

void SeedHidRetryRandom(std::uint32_t seed) {
    std::lock_guard lock(g_randomMutex);
    g_random.seed(seed);
}

HidDevice::HidDevice(HidInterfaceRecordPtr record) : interfaceRecord_(std::move(record)) {
    if (!interfaceRecord_ || !interfaceRecord_->IsOpen()) return;
    BuildTables();

    if (HasUsage(kTunnelPage, kTokenUsage) && (FindFirst(featureValueCaps_, kTunnelPage, kTokenUsage) != nullptr ||
                                                FindFirst(featureButtonCaps_, kTunnelPage, kTokenUsage) != nullptr)) {
        std::uint32_t token = 0;
        GetFeatureValue(kTunnelPage, kTokenUsage, token);  // a failed read leaves 0
        tunnelToken_ = static_cast<std::uint16_t>(token);
    }

    if (HasUsage(kTunnelPage, kDescriptorUsage)) {
        std::size_t chunkLength = 0;  // declared only as a button: no chunk
        if (const HidValueCaps* caps = FindFirst(featureValueCaps_, kTunnelPage, kDescriptorUsage)) {
            chunkLength = std::size_t{caps->bitSize} * caps->reportCount / 8;
        }
        hasDescriptor_ = true;
        ReadDescriptor(chunkLength);
    }
}

HidDevice::~HidDevice() {
    interfaceRecord_.reset();
    featureData_.clear();
    featureValueCaps_.clear();
    featureButtonCaps_.clear();
    if (reader_.joinable()) StopInputReader();
}

void HidDevice::BuildTables() {
    HidInterfaceRecord& record = *interfaceRecord_;
    std::vector<HidDataItem>& items = record.DataItems(HidReportType::Feature);

    for (const HidValueCaps& caps : record.capabilities.Values(HidReportType::Feature)) {
        const std::uint16_t usage = FirstUsage(caps);  // a range is registered under its first usage only
        featureValueCaps_[caps.usagePage].emplace(usage, &caps);
        for (HidDataItem& item : items) {
            if (!item.isButton && item.usagePage == caps.usagePage && item.usage == usage && item.reportId == caps.reportId)
                featureData_[caps.usagePage].emplace(usage, &item);
        }
    }

    std::size_t buttonUsages = 0;
    for (const HidButtonCaps& caps : record.capabilities.Buttons(HidReportType::Feature)) {
        // A button inside a link collection is also reachable by the collection's usage.
        if (caps.linkCollection != 0) featureButtonCaps_[caps.linkUsagePage].emplace(caps.linkUsage, &caps);
        const std::uint32_t first = FirstUsage(caps);
        const std::uint32_t last = caps.isRange ? caps.usageMax : caps.usage;
        const std::size_t count = std::min<std::size_t>(last >= first ? last - first + 1 : 0,
                                                        kMaxButtonUsagesPerDevice - buttonUsages);
        buttonUsages += count;
        for (std::uint32_t u = first; u < first + count; ++u) {
            featureButtonCaps_[caps.usagePage].emplace(static_cast<std::uint16_t>(u), &caps);
        }
        // Items go under their first usage, in item order within each usage.
        for (HidDataItem& item : items) {
            if (item.isButton && item.usagePage == caps.usagePage && item.reportId == caps.reportId &&
                item.usageMin >= first && item.usageMin < first + count)
                featureData_[caps.usagePage].emplace(static_cast<std::uint16_t>(item.usageMin), &item);
        }
    }
}

// The device hands out its vendor descriptor in chunks and advances by itself
// after every read; writing an offset makes it resume there.
//
// A chunk of 4 bytes or less has no room for payload, so no transfer is tried:
// the device keeps hasDescriptor with an empty root. A chunk is never longer
// than the feature report. The descriptor never grows past the total of the
// chunk that carries it (a total that shrinks below the offset ends the
// transfer), and at most kMaxDescriptorMismatchesInAll resynchronisations are
// made, so a hostile device can neither overrun nor stall the transfer.
void HidDevice::ReadDescriptor(std::size_t chunkLength) {
    const std::size_t featureLength = interfaceRecord_->Caps().featureReportByteLength;
    chunkLength = std::min(chunkLength, featureLength > 0 ? featureLength - 1 : 0);
    if (chunkLength <= kChunkPayload) return;

    std::vector<std::uint8_t> chunk(chunkLength, 0);
    SetFeatureReport(kTunnelPage, kDescriptorUsage, chunk);  // all zero: start at offset 0
    std::vector<std::uint8_t> descriptor;
    std::uint16_t expected = 0;
    int mismatches = 0;
    int mismatchesInAll = 0;
    for (;;) {
        std::fill(chunk.begin(), chunk.end(), 0);
        GetFeatureReport(kTunnelPage, kDescriptorUsage, chunk);  // a failed read leaves zeros
        const std::uint16_t offset = ReadU16(chunk, kChunkOffset);
        const std::uint16_t total = ReadU16(chunk, kChunkTotal);
        if (offset == expected) {
            mismatches = 0;
            const std::size_t left = total > offset ? std::size_t{total} - offset : 0;
            const std::size_t take = std::min(left, chunkLength - kChunkPayload);
            descriptor.insert(descriptor.end(), chunk.begin() + kChunkPayload, chunk.begin() + kChunkPayload + take);
            expected = static_cast<std::uint16_t>(expected + take);  // never past total, so never wraps
            if (total > expected) continue;
            break;
        }
        if (++mismatches > kMaxConsecutiveMismatches || ++mismatchesInAll > kMaxDescriptorMismatchesInAll) return;
        SleepMs(RetryDelayMs());
        std::fill(chunk.begin(), chunk.end(), 0);
        WriteU16(chunk, kChunkOffset, expected);
        SetFeatureReport(kTunnelPage, kDescriptorUsage, chunk);
    }

    std::vector<reportdescriptor::MainItem> parsed = reportdescriptor::Parse(descriptor);
    if (!parsed.empty()) root_ = std::move(parsed.front());
}

HidDataItem* HidDevice::FindData(std::uint16_t usagePage, std::uint16_t usage) {
    return FindFirst(featureData_, usagePage, usage);
}

const reportdescriptor::MainItem* HidDevice::TunnelledFeature(std::uint16_t usagePage, std::uint16_t usage) {
    const std::uint32_t key = std::uint32_t{usagePage} << 16 | usage;
    const auto found = tunnelledFeatures_.find(key);
    if (found != tunnelledFeatures_.end()) return found->second;
    const reportdescriptor::MainItem* item = reportdescriptor::FindFeatureItem(root_, usagePage, usage);
    tunnelledFeatures_.emplace(key, item);
    return item;
}

bool HidDevice::HasUsagePage(std::uint16_t usagePage) {
    return featureData_.contains(usagePage) || featureButtonCaps_.contains(usagePage);
}

bool HidDevice::HasUsage(std::uint16_t usagePage, std::uint16_t usage) {
    if (!HasUsagePage(usagePage)) return false;
    return FindFirst(featureData_, usagePage, usage) != nullptr ||
           FindFirst(featureButtonCaps_, usagePage, usage) != nullptr;
}

Status HidDevice::GetUsageInfoEx(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId,
                               std::int32_t* logicalMax, std::int32_t* logicalMin, bool* notFound,
                               std::int32_t* byteSize, std::uint16_t* bitSize, std::uint16_t* reportCount) {
    auto fill = [&](std::uint8_t id, std::int32_t max, std::int32_t min, std::int32_t bytes, std::uint16_t bits,
                    std::uint16_t count) {
        if (reportId) *reportId = id;
        if (logicalMax) *logicalMax = max;
        if (logicalMin) *logicalMin = min;
        if (notFound) *notFound = false;
        if (byteSize) *byteSize = bytes;
        if (bitSize) *bitSize = bits;
        if (reportCount) *reportCount = count;
        return kStatusSuccess;
    };
    if (HasUsage(usagePage, usage)) {
        if (const HidValueCaps* caps = FindFirst(featureValueCaps_, usagePage, usage)) {
            const std::uint64_t bytes = std::uint64_t{caps->bitSize} * caps->reportCount / 8;
            return fill(caps->reportId, caps->logicalMax, caps->logicalMin,
                        static_cast<std::int32_t>(std::min<std::uint64_t>(bytes, INT32_MAX)), caps->bitSize,
                        caps->reportCount);
        }
        if (const HidButtonCaps* caps = FindFirst(featureButtonCaps_, usagePage, usage)) {
            return fill(caps->reportId, 0, 0, 0, 0, 0);
        }
    }
    if (notFound) *notFound = true;
    return kHidNoSuchUsage;
}

Status HidDevice::GetUsageInfo(std::uint16_t usagePage, std::uint16_t usage, std::uint8_t* reportId,
                             std::int32_t* logicalMax, std::int32_t* logicalMin, bool* notFound,
                             std::int32_t* byteSize) {
    return GetUsageInfoEx(usagePage, usage, reportId, logicalMax, logicalMin, notFound, byteSize, nullptr, nullptr);
}

// Gets the item's feature report, at most `wanted` bytes of it, into the
// record's zeroed report buffer and unpacks the item, which right-aligns its
// field to byte 0. The buffer, or nullptr when either step fails.
const std::vector<std::uint8_t>* HidDevice::FetchFeature(HidDataItem& item, std::size_t wanted) {
    std::vector<std::uint8_t>& report = interfaceRecord_->ReportBuffer(HidReportType::Feature);
    if (report.empty()) return nullptr;
    std::fill(report.begin(), report.end(), 0);
    report[0] = static_cast<std::uint8_t>(item.reportId);
    const std::size_t asked = std::min(wanted, report.size());
    if (interfaceRecord_->connection->GetFeature(std::span(report).first(asked)) != HidIo::Ok) return nullptr;
    if (!UnpackReport(interfaceRecord_->capabilities, report, HidReportType::Feature, std::span(&item, 1)))
        return nullptr;
    return &report;
}

Status HidDevice::GetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<std::uint8_t> buffer) {
    std::fill(buffer.begin(), buffer.end(), 0);
    HidDataItem* item = FindData(usagePage, usage);
    if (item == nullptr) return kHidNoSuchUsage;
    item->fresh = false;
    const std::vector<std::uint8_t>* report = FetchFeature(*item, buffer.size() + 1);
    if (report == nullptr) return kHidTransferFailed;
    std::copy_n(report->begin(), std::min(buffer.size(), report->size()), buffer.begin());
    return kStatusSuccess;
}

Status HidDevice::SetFeatureReport(std::uint16_t usagePage, std::uint16_t usage, std::span<const std::uint8_t> buffer) {
    HidDataItem* item = FindData(usagePage, usage);
    if (item == nullptr) return kHidNoSuchUsage;
    item->fresh = false;
    const std::size_t reportLength = interfaceRecord_->Caps().featureReportByteLength;
    if (reportLength == 0) return kHidTransferFailed;
    const std::size_t carried = std::min(buffer.size(), reportLength - 1);
    std::vector<std::uint8_t> report(carried + 1);
    report[0] = static_cast<std::uint8_t>(item->reportId);
    std::copy_n(buffer.begin(), carried, report.begin() + 1);
    return interfaceRecord_->connection->SetFeature(report) == HidIo::Ok ? kStatusSuccess : kHidTransferFailed;
}

Status HidDevice::GetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value) {
    value = 0;
    HidDataItem* item = FindData(usagePage, usage);
    if (item == nullptr) return kHidNoSuchUsage;
    item->fresh = false;
    if (FetchFeature(*item, kValueReportLength) == nullptr) return kHidTransferFailed;
    value = item->value;
    return kStatusSuccess;
}

Status HidDevice::SetFeatureValue(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value) {
    HidDataItem* item = FindData(usagePage, usage);
    if (item == nullptr) return kHidNoSuchUsage;
    const std::size_t reportLength = interfaceRecord_->Caps().featureReportByteLength;
    if (reportLength == 0) return kHidTransferFailed;
    std::array<std::uint8_t, kValueReportLength> full{};
    full[0] = static_cast<std::uint8_t>(item->reportId);
    WriteU32(full, 1, value);
    const std::span<const std::uint8_t> report = std::span(full).first(std::min(reportLength, kValueReportLength));
    return interfaceRecord_->connection->SetFeature(report) == HidIo::Ok ? kStatusSuccess : kHidTransferFailed;
}

Status HidDevice::GetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t& value) {
    value = 0;
    const HidButtonCaps* caps = FindFirst(featureButtonCaps_, usagePage, usage);
    if (caps == nullptr) return kHidNoSuchUsage;
    std::array<std::uint8_t, kValueReportLength> report{caps->reportId};
    if (interfaceRecord_->connection->GetFeature(report) != HidIo::Ok) return kHidButtonFailed;
    value = ReadU32(report, 1);
    return kStatusSuccess;
}

Status HidDevice::SetFeatureButton(std::uint16_t usagePage, std::uint16_t usage, std::uint32_t value) {
    const HidButtonCaps* caps = FindFirst(featureButtonCaps_, usagePage, usage);
    if (caps == nullptr) return kHidNoSuchUsage;
    std::array<std::uint8_t, kValueReportLength> report{caps->reportId};
    WriteU32(report, 1, value);
    return interfaceRecord_->connection->SetFeature(report) == HidIo::Ok ? kStatusSuccess : kHidButtonFailed;
}

std::uint16_t HidDevice::GetVendorId() { return interfaceRecord_ ? interfaceRecord_->attributes.vendorId : 0; }
std::uint16_t HidDevice::GetProductId() { return interfaceRecord_ ? interfaceRecord_->attributes.productId : 0; }
std::uint16_t HidDevice::GetVersionNumber() { return interfaceRecord_ ? interfaceRecord_->attributes.versionNumber : 0; }

// Whole product-ID blocks share one class: 0x4000-0x7FFF give 0x4000, 0x8000-0xBFFF their high byte.
std::uint16_t HidDevice::GetProductClass() {
    const std::uint16_t product = GetProductId();
    if ((product & 0xC000) == 0x4000) return 0x4000;
    if ((product & 0xC000) == 0x8000) return product & 0xFF00;
    return product;
}

Status HidDevice::GetUsagePages(std::vector<std::uint16_t>& list) {
    for (const auto& [page, usages] : featureData_) list.push_back(page);
    return kStatusSuccess;
}

bool HidDevice::IsConnected() {
    if (!interfaceRecord_ || !interfaceRecord_->IsOpen()) return false;
    std::array<std::uint8_t, kIsConnectedProbeLength> probe{};  // report ID 0; the content does not matter
    return interfaceRecord_->connection->GetFeature(probe) != HidIo::NotConnected;
}

Status HidDevice::GetUsages(std::uint16_t usagePage, std::vector<std::uint16_t>& list) {
    if (!HasUsagePage(usagePage)) return kHidNoSuchUsage;
    if (const auto page = featureData_.find(usagePage); page != featureData_.end()) {
        for (const auto& [usage, item] : page->second) list.push_back(usage);
    }
    return kStatusSuccess;
}

// After this, every usage is unknown to the object: the tables pointed into the record.
Status HidDevice::CloseInterface() {
    featureData_.clear();
    featureValueCaps_.clear();
    featureButtonCaps_.clear();
    interfaceRecord_.reset();
    return kStatusSuccess;
}

Status HidDevice::GetIdentStrings(std::string& text1, std::string& text2) {
    constexpr std::size_t kFieldLength = 8;
    text1.clear();
    text2.clear();
    std::int32_t size = 0;
    if (IsFailure(GetUsageInfo(kIdentPage, kIdentUsage, nullptr, nullptr, nullptr, nullptr, &size)))
        return kHidButtonFailed;
    // No report carries more than the feature report length, so no larger buffer is needed.
    const std::size_t length =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(size, 0)), interfaceRecord_->Caps().featureReportByteLength);
    std::vector<std::uint8_t> buffer(length + 1, 0);
    if (IsFailure(GetFeatureReport(kIdentPage, kIdentUsage, std::span(buffer).first(length)))) return kHidButtonFailed;
    auto field = [&](std::size_t start) {
        std::string text;
        for (std::size_t i = start; i < std::min(start + kFieldLength, length); ++i) {
            if (buffer[i] == ' ' || buffer[i] == 0) break;
            text.push_back(static_cast<char>(buffer[i]));
        }
        return text;
    };
    text1 = field(0);
    text2 = field(kFieldLength);
    return kStatusSuccess;
}

Status HidDevice::StartInputReader(HidInputCallback inputCallback, HidStoppedCallback stoppedCallback, void* userData,
                                 bool raw) {
    if (reader_.joinable()) StopInputReader();
    if (!interfaceRecord_) return kHidButtonFailed;
    inputCallback_ = inputCallback;
    stoppedCallback_ = stoppedCallback;
    userData_ = userData;
    raw_ = raw;
    stop_.store(false);
    auto record = std::make_unique<HidInterfaceRecord>();
    if (!OpenHidInterface(interfaceRecord_->devicePath, /*readAccess=*/true, *record))
        return kHidButtonFailed;
    readerRecord_ = std::move(record);
    try {
        reader_ = std::thread([this] { ReaderLoop(); });
    } catch (const std::system_error&) {
        readerRecord_.reset();
        return kHidButtonFailed;
    }
    return kStatusSuccess;
}

Status HidDevice::StopInputReader() {
    if (!reader_.joinable()) return kHidButtonFailed;
    stop_.store(true);
    reader_.join();
    readerRecord_.reset();
    if (stoppedCallback_ != nullptr) stoppedCallback_(this, userData_);
    return kStatusSuccess;
}

// Runs on the reader thread; owns readerRecord_ and only reads root_ and hasDescriptor_.
void HidDevice::ReaderLoop() {
    HidInterfaceRecord& record = *readerRecord_;
    std::vector<std::uint8_t>& report = record.ReportBuffer(HidReportType::Input);
    std::vector<HidDataItem>& items = record.DataItems(HidReportType::Input);
    if (report.empty()) return;  // no input reports

    while (!stop_.load()) {
        std::fill(report.begin(), report.end(), 0);
        HidInput got;
        do {
            got = record.connection->ReadInput(report, kReaderSliceMs);
        } while (got == HidInput::Timeout && !stop_.load());
        if (got != HidInput::Report || stop_.load()) return;

        UnpackReport(record.capabilities, report, HidReportType::Input, items);  // items unpacked before a failure stay fresh
        if (inputCallback_ == nullptr) continue;
        for (HidDataItem& item : items) {
            if (!item.fresh) continue;
            item.fresh = false;
            const HidValueCaps* caps = FindValueCaps(record.capabilities, HidReportType::Input, item.usagePage,
                                                     item.usage, static_cast<std::uint8_t>(item.reportId));
            if (caps == nullptr) continue;  // button items have no value capability
            if (raw_ || !hasDescriptor_) {
                inputCallback_(this, item.usagePage, item.usage, caps->bitSize, caps->reportCount, report, userData_);
                continue;
            }
            // A tunnelled report names its own page and usage: [page, usage, 2 bytes skipped, data].
            constexpr std::size_t kPage = 0, kUsage = 2, kData = 6;
            if (report.size() < kUsage + 2) continue;
            const std::uint16_t page = ReadU16(report, kPage);
            const std::uint16_t usage = ReadU16(report, kUsage);
            std::uint16_t size = 0, count = 0;
            if (const reportdescriptor::MainItem* found = reportdescriptor::FindInputItem(root_, page, usage)) {
                if (const reportdescriptor::Item* entry = found->FindItem(kReportSizeTag))
                    size = static_cast<std::uint16_t>(entry->value);
                if (const reportdescriptor::Item* entry = found->FindItem(kReportCountTag))
                    count = static_cast<std::uint16_t>(entry->value);
            }
            inputCallback_(this, page, usage, size, count, std::span(report).subspan(std::min(kData, report.size())),
                           userData_);
        }
    }
}
