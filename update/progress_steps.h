#pragma once
// What the sequences tell the update's progress: the plan of a run and each
// step as it begins. Nothing is told when nobody follows the update.
#include <cstdint>
#include <vector>

#include "common/update_progress.h"
#include "monitor/component_transfer.h"
#include "package/content.h"
#include "update/update_context.h"

void PlanSteps(const UpdateContext& context, const std::vector<PlannedStep>& steps);
void EnterStep(const UpdateContext& context, UpdateStep step, std::uint32_t component = 0,
               std::uint32_t components = 0);

// A step the run will make, done already when the record's stage has reached `doneAt`.
PlannedStep PlannedStepAt(const UpdateContext& context, UpdateStep step, std::int32_t doneAt, std::uint32_t waitMs = 0);
// Writes (or reads back and compares) one component, telling `progress` the bytes moved.
using ComponentOperation = Status (*)(MonitorHandle monitor, std::uint16_t type, const ComponentDescriptor& component,
                                      UpdateProgress* progress);
// Runs `operation` on the components of these types, in this order, each as
// `step` X of N; the first failure ends it.
Status ComponentSteps(const UpdateContext& context, UpdateStep step, const std::vector<std::uint16_t>& types,
                      ComponentOperation operation);
// Writes the components of these types, in this order, each as step X of N;
// kUpdFailed when there is none.
Status WriteComponentSteps(const UpdateContext& context, const std::vector<std::uint16_t>& types);

// Whether the monitor has setting B8, whose changes it is given time to act on.
bool HasSettingB8(const UpdateContext& context);
// Switching B8 off and on, where the monitor has it.
std::uint32_t SettingB8CycleMs(const UpdateContext& context);
// Storing the listed settings again ends with switching B8 off and on.
std::uint32_t ListedSettingsWaitMs(const UpdateContext& context);
// How long finding an older monitor again after a restart takes beyond the
// wait: one that comes back with setting B8 off has it switched off and on. As
// the monitor's B8 reads now, which a restart keeps.
std::uint32_t ExpectedLookMs(const UpdateContext& context);
// Writing component `component`: its bytes, read back by the writer on a
// monitor without a checksum, and the checksum's polls on one with it.
PlannedStep PlannedWrite(const UpdateContext& context, std::uint32_t component, const ComponentDescriptor& descriptor,
                         std::int32_t doneAt, const TransferEstimate& estimate);
// Reading component `component` back after the restart.
PlannedStep PlannedReadBack(const UpdateContext& context, std::uint32_t component,
                            const ComponentDescriptor& descriptor, const TransferEstimate& estimate);
// The monitor's time per byte of a component transfer, written and read, timed
// on component `type` before the first byte moves (a few commands); 0s when unknown.
TransferEstimate EstimateTransfer(const UpdateContext& context, std::uint16_t type);
