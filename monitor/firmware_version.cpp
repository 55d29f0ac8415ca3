#include "monitor/firmware_version.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/bytes.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace command_access;
using command_usage::kVersionRecord;

namespace {

using Record = std::array<std::uint8_t, kVersionRecordBytes>;

constexpr std::uint16_t kSelectorField1 = 0x0100, kSelectorField2 = 0x0101, kSelectorField3 = 0x0500,
                        kSelectorField4 = 0x0400, kSelectorField5 = 0x0600;

// The text behind the record's first two bytes; a text without its zero ends with the record.
std::string RecordText(std::span<const std::uint8_t, kVersionRecordBytes> record) {
    const auto text = std::span(record).subspan(kVersionRecordTextOffset);
    return std::string(text.begin(), std::find(text.begin(), text.end(), std::uint8_t{0}));
}

// Leading digits as the C library converts them (sign and leading blanks allowed, none gives 0).
std::uint16_t Convert(const std::string& text, int base) {
    return static_cast<std::uint16_t>(static_cast<unsigned long>(std::strtol(text.c_str(), nullptr, base)));
}

bool Read(MonitorHandle handle, std::uint16_t selector, Record& record) {
    return !IsFailure(MonReadVersionRecord(handle, selector, record));
}

}  // namespace

namespace version_record {

std::uint16_t DecimalNumber(std::span<const std::uint8_t, kVersionRecordBytes> record) {
    std::string text = RecordText(record);
    if (const auto point = text.find('.'); point != std::string::npos) text.erase(point, 1);
    return Convert(text, 10);
}

std::uint16_t HexNumber(std::span<const std::uint8_t, kVersionRecordBytes> record) {
    return Convert(RecordText(record), 16);
}

}  // namespace version_record

Status MonReadVersionRecord(MonitorHandle handle, std::uint16_t selector,
                            std::span<std::uint8_t, kVersionRecordBytes> record) {
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, kVersionRecord)) return kMonUnavailable;
    Record bytes{};
    WriteU16(bytes, 0, selector);
    if (const Status status = WriteBlock(handle, kVersionRecord, bytes); IsFailure(status)) return status;
    bytes.fill(0);
    if (const Status status = ReadBlock(handle, kVersionRecord, bytes); IsFailure(status)) return status;
    std::copy(bytes.begin(), bytes.end(), record.begin());
    return kStatusSuccess;
}

Status MonGetFirmwareVersion(MonitorHandle handle, std::span<char, kVersionTextBytes> text) {
    const auto lock = monitor_registry::Lock();
    std::array<std::uint16_t, 5> numbers{};
    bool complete = true;
    Record first{}, second{}, record{};

    // Fields 1 and 2 come as a pair: both or neither.
    if (Read(handle, kSelectorField1, first) && Read(handle, kSelectorField2, second)) {
        numbers[0] = version_record::DecimalNumber(first);
        numbers[1] = version_record::DecimalNumber(second);
    } else {
        complete = false;
    }
    for (const auto& [selector, field] : {std::pair{kSelectorField3, 2}, std::pair{kSelectorField4, 3}}) {
        if (Read(handle, selector, record)) {
            numbers[static_cast<std::size_t>(field)] = version_record::DecimalNumber(record);
        } else {
            complete = false;
        }
    }
    if (Read(handle, kSelectorField5, record)) {
        numbers[4] = version_record::HexNumber(record);
    } else {
        complete = false;
    }

    std::snprintf(text.data(), text.size(), "%05u%05u%05u%05u%05x", unsigned{numbers[0]}, unsigned{numbers[1]},
                  unsigned{numbers[2]}, unsigned{numbers[3]}, unsigned{numbers[4]});
    return complete ? kStatusSuccess : kMonVersionIncomplete;
}
