#pragma once
// What the sequences tell the update's progress: the plan of a run and each
// step as it begins. Nothing is told when nobody follows the update.
#include <cstdint>
#include <vector>

#include "common/update_progress.h"
#include "package/content.h"
#include "update/update_context.h"

void PlanSteps(const UpdateContext& context, const std::vector<PlannedStep>& steps);
void EnterStep(const UpdateContext& context, UpdateStep step, std::uint32_t component = 0,
               std::uint32_t components = 0);

// A step the run will make, done already when the record's stage has reached `doneAt`.
PlannedStep PlannedStepAt(const UpdateContext& context, UpdateStep step, std::int32_t doneAt, std::uint32_t waitMs = 0);
// Whether the monitor has setting B8, whose changes it is given time to act on.
bool HasSettingB8(const UpdateContext& context);
// Switching B8 off and on, where the monitor has it.
std::uint32_t SettingB8CycleMs(const UpdateContext& context);
// Storing the listed settings again ends with switching B8 off and on.
std::uint32_t ListedSettingsWaitMs(const UpdateContext& context);
// Writing component `component`: its bytes, read back by the writer on a
// monitor without a checksum, and the checksum's first poll on one with it.
PlannedStep PlannedWrite(const UpdateContext& context, std::uint32_t component, const ComponentDescriptor& descriptor,
                         std::int32_t doneAt);
