#include "update/progress_steps.h"

#include "monitor/command_usages.h"
#include "monitor/component_transfer.h"
#include "update/monitor_steps.h"

void PlanSteps(const UpdateContext& c, const std::vector<PlannedStep>& steps) {
    if (c.progress) c.progress->Plan(steps);
}

void EnterStep(const UpdateContext& c, UpdateStep step, std::uint32_t component, std::uint32_t components) {
    if (c.progress) c.progress->EnterStep(step, component, components);
}

PlannedStep PlannedStepAt(const UpdateContext& c, UpdateStep step, std::int32_t doneAt, std::uint32_t waitMs) {
    return PlannedStep{.step = step, .waitMs = waitMs, .done = c.stage >= doneAt};
}

PlannedStep PlannedWrite(const UpdateContext& c, std::uint32_t component, const ComponentDescriptor& descriptor,
                         std::int32_t doneAt) {
    const MonUsage checksum = command_usage::kChecksum;
    const bool checksummed = HasUsage(c.monitor, checksum.page, checksum.usage);
    return PlannedStep{.step = UpdateStep::WritingComponent,
                       .component = component,
                       .bytes = checksummed ? descriptor.length : 2ull * descriptor.length,
                       .waitMs = checksummed ? kChecksumPollMs : 0,
                       .done = c.stage >= doneAt};
}
