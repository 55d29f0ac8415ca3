#pragma once
// The monitor's firmware version: version records, and the 25-character
// version text built from five of them.
#include <cstdint>
#include <span>

#include "monitor/command_status.h"
#include "monitor/registry.h"

// A record: the request is the selector (u16) and 16 zero bytes; the reply is
// 2 bytes and a zero-terminated text of at most 16 characters.
inline constexpr std::size_t kVersionRecordBytes = 18;
inline constexpr std::size_t kVersionRecordTextOffset = 2;

// The text's five fields of five characters, and a terminating zero.
inline constexpr std::size_t kVersionTextBytes = 26;

// kMonUnavailable without 0xFF00:0x00D8, kMonTransferFailed when either transfer fails;
// `record` is written only on success.
Status MonReadVersionRecord(MonitorHandle handle, std::uint16_t selector,
                            std::span<std::uint8_t, kVersionRecordBytes> record);

// Fields from records 0x0100, 0x0101, 0x0500, 0x0400 (decimal) and 0x0600
// (hexadecimal). A record that cannot be read gives the field 00000 and the
// status kMonVersionIncomplete; the text is written in every case.
Status MonGetFirmwareVersion(MonitorHandle handle, std::span<char, kVersionTextBytes> text);

namespace version_record {

// The record's text with its first "." removed, as a decimal number; low 16 bits.
std::uint16_t DecimalNumber(std::span<const std::uint8_t, kVersionRecordBytes> record);
// The record's text as a hexadecimal number; low 16 bits.
std::uint16_t HexNumber(std::span<const std::uint8_t, kVersionRecordBytes> record);

}  // namespace version_record
