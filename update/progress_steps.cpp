#include "update/progress_steps.h"

#include "monitor/command_usages.h"
#include "monitor/component_transfer.h"
#include "monitor/setting_b8.h"
#include "update/component_writing.h"
#include "update/monitor_settings.h"
#include "update/monitor_steps.h"
#include "update/update_status.h"

Status ComponentSteps(const UpdateContext& c, UpdateStep step, const std::vector<std::uint16_t>& types,
                      ComponentOperation operation) {
    const auto count = static_cast<std::uint32_t>(types.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        EnterStep(c, step, i + 1, count);
        if (const Status status = operation(c.monitor, types[i], c.components.at(types[i]), c.progress);
            IsFailure(status)) {
            return status;
        }
    }
    return kStatusSuccess;
}

Status WriteComponentSteps(const UpdateContext& c, const std::vector<std::uint16_t>& types) {
    if (types.empty()) return kUpdFailed;
    return ComponentSteps(c, UpdateStep::WritingComponent, types, WriteComponent);
}

void PlanSteps(const UpdateContext& c, const std::vector<PlannedStep>& steps) {
    if (c.progress) c.progress->Plan(steps);
}

void EnterStep(const UpdateContext& c, UpdateStep step, std::uint32_t component, std::uint32_t components) {
    if (c.progress) c.progress->EnterStep(step, component, components);
}

PlannedStep PlannedStepAt(const UpdateContext& c, UpdateStep step, std::int32_t doneAt, std::uint32_t waitMs) {
    return PlannedStep{.step = step, .waitMs = waitMs, .done = c.stage >= doneAt};
}

bool HasSettingB8(const UpdateContext& c) { return MonHasSettingB8(c.monitor); }

std::uint32_t SettingB8CycleMs(const UpdateContext& c) { return HasSettingB8(c) ? kSettingB8CycleMs : 0; }

std::uint32_t ListedSettingsWaitMs(const UpdateContext& c) {
    return c.components.contains(kSettingListType) ? SettingB8CycleMs(c) : 0;
}

std::uint32_t ExpectedLookMs(const UpdateContext& c) {
    const MonUsage combined = command_usage::kCombinedPacket;
    if (HasUsage(c.monitor, combined.page, combined.usage)) return 0;
    std::int32_t b8 = 0;  // a failed read counts as off, as the look takes it
    if (MonGetSettingB8(c.monitor, &b8) == kMonUnavailable) return 0;
    return b8 == 0 ? kSettingB8CycleMs : 0;
}

TransferEstimate EstimateTransfer(const UpdateContext& c, std::uint16_t type) {
    const std::string_view id = ComponentIdentifier(type);
    return id.empty() ? TransferEstimate{} : MonEstimateTransfer(c.monitor, id);
}

PlannedStep PlannedReadBack(const UpdateContext& c, std::uint32_t component, const ComponentDescriptor& descriptor,
                            const TransferEstimate& estimate) {
    return PlannedStep{.step = UpdateStep::VerifyingComponent,
                       .component = component,
                       .bytes = descriptor.length,
                       .done = c.stage >= kStageChecked,
                       .readBackBytes = descriptor.length,
                       .estimatedReadNsPerByte = estimate.readNsPerByte};
}

PlannedStep PlannedWrite(const UpdateContext& c, std::uint32_t component, const ComponentDescriptor& descriptor,
                         std::int32_t doneAt, const TransferEstimate& estimate) {
    const MonUsage checksum = command_usage::kChecksum;
    const bool checksummed = HasUsage(c.monitor, checksum.page, checksum.usage);
    const std::uint64_t moved = MonComponentBytesMoved(c.monitor, descriptor.length);
    return PlannedStep{.step = UpdateStep::WritingComponent,
                       .component = component,
                       .bytes = moved,
                       .waitMs = checksummed ? kChecksumExpectedWaitMs : 0,
                       .done = c.stage >= doneAt,
                       .estimatedNsPerByte = estimate.writeNsPerByte,
                       .readBackBytes = moved - descriptor.length,
                       .estimatedReadNsPerByte = estimate.readNsPerByte};
}
