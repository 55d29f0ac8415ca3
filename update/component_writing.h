#pragma once
// Writing and checking the firmware components of an update, by componentType.
#include <array>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "common/update_progress.h"
#include "monitor/registry.h"
#include "package/content.h"

// componentTypes of firmware, in the order they are written and checked.
inline constexpr std::array<std::uint16_t, 5> kComponentWriteOrder{2, 3, 1, 4, 5};

// Whether the components hold any firmware (one of the five types above): a set
// with only the list of settings has nothing to write.
bool CarriesFirmware(const std::map<std::uint16_t, ComponentDescriptor>& components);

// "PRG000", "PRG001", "AIC653", "INP027", "AIC904" for types 2, 3, 1, 4, 5; "" otherwise.
std::string_view ComponentIdentifier(std::uint16_t type);

// Whether every component of these types fits the monitor's area, asked before
// the first is announced; the first kMonGeometryMismatch (or failed query).
Status CheckComponentsFit(MonitorHandle monitor, const std::map<std::uint16_t, ComponentDescriptor>& components,
                          const std::vector<std::uint16_t>& types);

// Writes the component with its type's writer; kUpdBadArgument without data.
// The bytes moved and the checksum's wait reach `progress` when given.
Status WriteComponent(MonitorHandle monitor, std::uint16_t type, const ComponentDescriptor& component,
                      UpdateProgress* progress = nullptr);
// Reads the component back from the monitor and compares; kUpdBadArgument without data.
Status VerifyComponent(MonitorHandle monitor, std::uint16_t type, const ComponentDescriptor& component,
                       UpdateProgress* progress = nullptr);
