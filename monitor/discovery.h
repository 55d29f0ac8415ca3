#pragma once
// Finding the maker's monitors among the HID interfaces, keeping the registry
// in step with what is plugged in, handles by position, a monitor's identity
// (model name and serial number), and finding a monitor again by its identity
// after it has restarted.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/monitor_identity.h"
#include "common/update_progress.h"
#include "monitor/monitor_status.h"
#include "monitor/registry.h"

// Family words select product classes; see the table in discovery.cpp.
inline constexpr std::uint32_t kFamilyNormal = 0x00000001;           // monitors in normal operation
inline constexpr std::uint32_t kFamilyStoppedInUpdate = 0x20000000;  // monitors stopped in an update

// Registers the monitors of the families that are not registered yet, after
// the start-up delay. Returns how many registered monitors (old and new)
// belong to the families.
std::uint32_t MonOpenDevices(std::uint32_t families);
// Seeds the start-up delay in place of the process id, so that a test can
// make the delay repeatable (the process keeps one delay, as before).
void SeedStartupDelay(std::uint32_t seed);
// How many interfaces of the maker's vendors are present that this user may
// not open (no device rule grants access): they can never be listed.
std::uint32_t MonCountRefusedDevices();

// The device paths of the maker's interfaces present now, read without opening
// any device (no transfer); empty when the list cannot be read.
std::vector<std::string> MonListMakerPaths();

// Destroys every registered monitor of the families; their handles become invalid.
Status MonCloseDevices(std::uint32_t families);
// The index-th registered monitor of the families, in registration order.
// kMonFailed for a null `handle` or when there is no such monitor.
Status MonGetDevice(std::uint32_t families, std::uint32_t index, MonitorHandle* handle);
// Brings the family-1 part of the registry in step with the interfaces present
// now: monitors that are gone leave it, new ones are appended, monitors that
// stay keep their handles. Other families are left alone. Returns how many
// family-1 monitors are present.
std::uint32_t MonRefreshDevices();

// The HID version number (the USB release number) the monitor presents;
// kMonFailed for an unknown handle or a null `version`. A family-1 monitor
// presenting kVersionNumberStoppedInUpdate waits in an update.
inline constexpr std::uint16_t kVersionNumberStoppedInUpdate = 40000;
Status MonGetVersionNumber(MonitorHandle handle, std::uint16_t* version);
// The device path of the monitor's interface ("/dev/hidraw3", or the emulator's
// socket); "" for an unknown handle.
std::string MonGetDevicePath(MonitorHandle handle);

// Serial number: the identity block's first 8 bytes as they are; model name:
// the bytes after them up to the first zero or space. An identity block of 8
// bytes or less leaves both texts as they were. kMonTransferFailed when the
// block cannot be read.
Status MonReadIdentity(MonitorHandle handle, std::string& model, std::string& serial);
// Zero-terminated texts. kMonBadArgument for a buffer smaller than the limit
// plus the terminator (18 and 10 bytes); kMonTextTooLong when the text exceeds
// 17 (model) or 9 (serial) characters. The serial number ends at a zero byte.
Status MonGetModelName(MonitorHandle handle, std::span<char> buffer);
Status MonGetSerialNumber(MonitorHandle handle, std::span<char> buffer);

// The monitor's identity, its serial number cut at the first zero byte as
// everywhere else; kMonTransferFailed when the block cannot be read. An identity
// block of 8 bytes or less gives an identity that is not Known().
Status MonGetIdentity(MonitorHandle handle, MonitorIdentity& identity);

// Reopens every family-1 monitor (all earlier family-1 handles become invalid)
// and returns the one with this identity, or kNoMonitor: also when more than
// one monitor presents it, since taking either could update the wrong one. On a
// monitor without combined block packets it makes sure setting B8 is on.
MonitorHandle MonReopenByIdentity(const MonitorIdentity& identity);
// Every monitor that waits in an update now: the family-1 monitors presenting
// kVersionNumberStoppedInUpdate, then every connected family-29 monitor. The
// family-1 part of the registry is refreshed and new family-29 monitors are
// registered; handles of monitors still connected stay valid.
std::vector<MonitorHandle> MonListWaitingMonitors();

// Restarts the monitor (with the boot selector at 0 where it has combined block
// packets) and waits for it to come back, trying every 15 s for up to an hour.
// The new handle, or kNoMonitor.
// Waits reach `progress` when given.
inline constexpr int kRestartReconnectAttempts = 240;  // an hour in all
inline constexpr std::uint32_t kRestartReconnectWaitMs = 15000;
MonitorHandle MonRestartAndReconnect(MonitorHandle handle, const MonitorIdentity& identity,
                                     UpdateProgress* progress = nullptr);
