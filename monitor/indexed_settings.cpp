#include "monitor/indexed_settings.h"

#include <array>

#include "common/bytes.h"
#include "monitor/command_access.h"
#include "monitor/command_usages.h"

using namespace command_access;
namespace usage = command_usage;

namespace {

constexpr std::uint8_t kSelectForWrite = 2;
constexpr std::uint8_t kSelectForRead = 3;
constexpr std::size_t kIndexValueBytes = 4;

Status Select(MonitorHandle handle, std::uint8_t index, std::uint8_t operation) {
    const std::array<std::uint8_t, 2> select{index, operation};
    return WriteBlock(handle, usage::kIndexSelect, select);
}

}  // namespace

Status MonReadIndexedSetting(MonitorHandle handle, std::uint8_t index, std::int32_t* value) {
    if (value == nullptr) return kMonBadArgument;
    const auto lock = monitor_registry::Lock();
    if (!IsAvailable(handle, usage::kSwitchF0)) return kMonUnavailable;
    if (const Status status = Select(handle, index, kSelectForRead); IsFailure(status)) return status;
    std::array<std::uint8_t, kIndexValueBytes> bytes{};
    if (const Status status = ReadBlock(handle, usage::kIndexValue, bytes); IsFailure(status)) return status;
    *value = static_cast<std::int32_t>(ReadU32(bytes, 0));
    return kStatusSuccess;
}

Status MonRewriteIndexedSetting(MonitorHandle handle, std::uint8_t index) {
    const auto lock = monitor_registry::Lock();
    std::int32_t value = 0;
    if (const Status status = MonReadIndexedSetting(handle, index, &value); IsFailure(status)) return status;
    if (!IsAvailable(handle, usage::kSwitchF0)) return kMonUnavailable;
    if (const Status status = Select(handle, index, kSelectForWrite); IsFailure(status)) return status;
    return WriteValue(handle, usage::kIndexValue, value);
}
