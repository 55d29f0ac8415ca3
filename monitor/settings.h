#pragma once
// Monitor settings that an update saves, neutralises and puts back. Each call
// tests the usage first (kMonUnavailable), reports a failed transfer as
// kMonTransferFailed and a null out pointer as kMonBadArgument. A value read
// outside the accepted range leaves the caller's variable as it was and still
// succeeds. Setting B8 lives with the identity code.
#include <cstdint>

#include "monitor/command_status.h"
#include "monitor/registry.h"

// 0xFF01:0x0054, low 16 bits; older monitors keep it inverted in bit 5 of 0xFF00:0x0009.
Status MonGetSetting54(MonitorHandle handle, std::uint16_t* value);
Status MonSetSetting54(MonitorHandle handle, std::uint32_t value);

// 0xFF01:0x0045, 0 or 1. Monitors with 0xFF01:0x00A4 instead read as 0 and
// store 1 as 1200; a monitor with neither accepts a write and does nothing.
Status MonGetSetting45(MonitorHandle handle, std::int32_t* value);
Status MonSetSetting45(MonitorHandle handle, std::uint32_t value);

// 0xFF01:0x0053, 0 or 1 (kMonBadArgument above 1); older monitors keep it
// inverted in bit 4 of 0xFF00:0x0009, where any non-zero value counts as 1.
Status MonGetSetting53(MonitorHandle handle, std::int32_t* value);
Status MonSetSetting53(MonitorHandle handle, std::uint32_t value);

// 0xFF01:0x0068, low 16 bits.
Status MonGetSetting68(MonitorHandle handle, std::uint16_t* value);
Status MonSetSetting68(MonitorHandle handle, std::uint32_t value);

// Byte 0 of the 64-byte blocks 0xFF03:0x0022 and 0xFF03:0x0030, present with
// 0xFF03:0x0001 and 0xFF03:0x0003; a write keeps the other 63 bytes.
Status MonGetSetting22(MonitorHandle handle, std::uint8_t* value);
Status MonSetSetting22(MonitorHandle handle, std::uint8_t value);
Status MonGetSetting30(MonitorHandle handle, std::uint8_t* value);
Status MonSetSetting30(MonitorHandle handle, std::uint8_t value);

// Bytes 2..3 of the 4-byte block 0xFF10:0x0040; a write keeps bytes 0..1.
Status MonGetSetting40(MonitorHandle handle, std::uint16_t* value);
Status MonSetSetting40(MonitorHandle handle, std::uint32_t value);

// 0xFF01:0x00F0, low 16 bits.
Status MonSetSwitchF0(MonitorHandle handle, std::uint32_t value);
