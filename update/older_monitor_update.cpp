#include "update/older_monitor_update.h"

#include <map>
#include <vector>

#include "monitor/command_status.h"
#include "monitor/component_transfer.h"
#include "monitor/command_usages.h"
#include "monitor/device_commands.h"
#include "monitor/discovery.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "update/component_writing.h"
#include "update/monitor_settings.h"
#include "update/monitor_steps.h"
#include "update/progress_steps.h"
#include "update/update_context.h"
#include "update/update_status.h"

namespace {

constexpr std::uint8_t kReadBackAttribute = 1;

bool Has(MonitorHandle monitor, MonUsage usage) { return HasUsage(monitor, usage.page, usage.usage); }

// The components written, in order, and those read back after the restart.
std::vector<std::uint16_t> WrittenTypes(const UpdateContext& c) {
    std::vector<std::uint16_t> types;
    for (const std::uint16_t type : kComponentWriteOrder)
        if (c.components.contains(type)) types.push_back(type);
    return types;
}

std::vector<std::uint16_t> ReadBackTypes(const UpdateContext& c) {
    std::vector<std::uint16_t> types;
    for (const std::uint16_t type : WrittenTypes(c))
        if (c.components.at(type).attribute == kReadBackAttribute) types.push_back(type);
    return types;
}

// The whole update from the record's stage: the steps before it are done.
void PlanRun(const UpdateContext& c) {
    if (!c.progress) return;
    // A monitor stopped in an update is in its update state already.
    const std::uint32_t enterWaitMs =
        c.loaderFlag != 1 ? kEnterUpdateReconnectMs + ExpectedLookMs(c) + SettingB8CycleMs(c) : 0;
    std::vector<PlannedStep> steps{
        PlannedStepAt(c, UpdateStep::Preparing, kStagePrepared),
        PlannedStepAt(c, UpdateStep::EnteringUpdateState, kStageRestarted, enterWaitMs),
        PlannedStepAt(c, UpdateStep::Restarting, kStageWritten, kReconnectMs),
    };
    const std::vector<std::uint16_t> written = WrittenTypes(c);
    const std::vector<std::uint16_t> readBack = ReadBackTypes(c);
    // Timed only where there is something left to move.
    std::map<std::uint16_t, TransferEstimate> estimates;
    if (c.stage < kStageChecked) {
        for (const std::uint16_t type : c.stage < kStageWritten ? written : readBack)
            estimates[type] = EstimateTransfer(c, type);
    }
    for (std::uint32_t i = 0; i < written.size(); ++i)
        steps.push_back(PlannedWrite(c, i + 1, c.components.at(written[i]), kStageWritten, estimates[written[i]]));
    steps.push_back(PlannedStepAt(c, UpdateStep::Restarting, kStageRestarted, kRestartReconnectWaitMs));
    for (std::uint32_t i = 0; i < readBack.size(); ++i)
        steps.push_back(PlannedReadBack(c, i + 1, c.components.at(readBack[i]), estimates[readBack[i]]));
    steps.push_back(PlannedStepAt(c, UpdateStep::RestoringSettings, kStageSettingsStored, ListedSettingsWaitMs(c)));
    // The completion command's polls, and B8 settling at its saved value.
    const std::uint32_t completionMs = Has(c.monitor, command_usage::kSelect) ? kCompletionExpectedWaitMs : 0;
    const std::uint32_t b8Ms = HasSettingB8(c) ? SettingB8SettleMs(static_cast<std::int32_t>(c.savedSettingB8)) : 0;
    steps.push_back(PlannedStepAt(c, UpdateStep::Finishing, kStageDone, completionMs + b8Ms));
    PlanSteps(c, steps);
}

// Saves the settings and attaches the package's set to the record; the monitor
// is not touched yet, so a set that cannot update it stops here.
Status PrepareRecord(UpdateContext& c) {
    if (c.package == kNoPackageHandle) return kUpdBadArgument;
    if (const Status status = SaveMonitorSettings(c); IsFailure(status)) return status;
    if (const Status status = PkgAttachSet(c.package, &c.record); IsFailure(status)) return status;
    if (const Status status = LoadUpdateContext(c); IsFailure(status)) return status;
    // The plan needs the set's components, so it is made once they are attached.
    PlanRun(c);
    EnterStep(c, UpdateStep::Preparing);
    // Without firmware the update would take the monitor into its update state
    // and then have nothing to write: the package cannot update this monitor.
    if (!CarriesFirmware(c.components)) return kPkgNoMatchingSet;
    return ChangeStage(c, kStagePrepared);
}

// Restarts the monitor into its update state. Runs again on every resumed
// run, since a monitor that lost power meanwhile has left that state.
Status EnterUpdateState(UpdateContext& c) {
    EnterStep(c, UpdateStep::EnteringUpdateState);
    // A monitor stopped in an update is in that state already.
    if (c.loaderFlag != 1) {
        if (Has(c.monitor, command_usage::kSwitchF0)) {
            if (const Status status = MonSetSwitchF0(c.monitor, 0); IsFailure(status)) return status;
        }
        if (const Status status = WriteBootSelector(c.monitor, 1); IsFailure(status)) return status;
        const std::uint32_t lookMs = ExpectedLookMs(c);
        const std::vector<std::string> before = MonListMakerPaths();
        if (const Status status = WriteRestart(c.monitor); IsFailure(status)) return status;
        if (const Status status = ReconnectIntoUpdateState(c, kEnterUpdateReconnectMs, lookMs, before);
            IsFailure(status))
            return status;
        if (const Status status = NeutraliseMonitorSettings(c.monitor, c.progress); IsFailure(status)) return status;
    }
    return c.stage == kStagePrepared ? ChangeStage(c, kStageWriting) : kStatusSuccess;
}

// Restarts once more before writing and leaves the boot selector at 1.
Status RestartBeforeWriting(UpdateContext& c) {
    EnterStep(c, UpdateStep::Restarting);
    if (const Status status = WriteBootSelector(c.monitor, 1); IsFailure(status)) return status;
    const std::vector<std::string> before = MonListMakerPaths();
    if (const Status status = WriteRestart(c.monitor); IsFailure(status)) return status;
    if (const Status status = ReconnectIntoUpdateState(c, kReconnectMs, 0, before); IsFailure(status))
        return status;
    if (const Status status = RetakeControlLock(c.monitor); IsFailure(status)) return status;
    return WriteBootSelector(c.monitor, 1);
}

Status WriteComponents(const UpdateContext& c) { return WriteComponentSteps(c, WrittenTypes(c)); }

// A component that does not fit the monitor's area is known before the first is
// announced: the monitor goes back to its firmware with its settings and the
// record to its first stage, so that the run ends as it began; then `why`.
Status LeaveWithNothingWritten(UpdateContext& c, Status why) {
    EnterStep(c, UpdateStep::Restarting);
    if (const Status status = WriteBootSelector(c.monitor, 0); IsFailure(status)) return status;
    c.monitor = MonRestartAndReconnect(c.monitor, c.identity, c.progress);
    if (c.monitor == kNoMonitor) return kUpdFailed;
    if (const Status status = RetakeControlLock(c.monitor); IsFailure(status)) return status;
    if (const Status status = RestoreMonitorSettings(c); IsFailure(status)) return status;
    if (Has(c.monitor, command_usage::kSwitchF0)) {
        if (const Status status = MonSetSwitchF0(c.monitor, 1); IsFailure(status)) return status;
    }
    return ReturnToFirstStage(c, why);
}

Status RestartIntoNewFirmware(UpdateContext& c) {
    // A resumed update has taken the monitor into its update state again
    // (boot selector 1): without this, the restart would not leave that state.
    EnterStep(c, UpdateStep::Restarting);
    if (const Status status = WriteBootSelector(c.monitor, 0); IsFailure(status)) return status;
    c.monitor = MonRestartAndReconnect(c.monitor, c.identity, c.progress);
    if (c.monitor == kNoMonitor) return kUpdFailed;
    if (const Status status = RetakeControlLock(c.monitor); IsFailure(status)) return status;
    return ChangeStage(c, kStageRestarted);
}

Status ReadBackComponents(UpdateContext& c) {
    if (const Status status = ComponentSteps(c, UpdateStep::VerifyingComponent, ReadBackTypes(c), VerifyComponent);
        IsFailure(status)) {
        return status;
    }
    return ChangeStage(c, kStageChecked);
}

Status StoreListedSettings(UpdateContext& c) {
    EnterStep(c, UpdateStep::RestoringSettings);
    if (const Status status = RestoreListedSettings(c); IsFailure(status)) return status;
    return ChangeStage(c, kStageSettingsStored);
}

Status CheckAndFinish(UpdateContext& c) {
    EnterStep(c, UpdateStep::Finishing);
    if (IsFailure(CheckMonitorVersions(c))) {
        // One more restart gives a monitor that came up with stale records a second chance.
        if (const Status status = WriteRestart(c.monitor); IsFailure(status)) return status;
        if (const Status status = ReconnectLoop(c, kReconnectMs); IsFailure(status)) return status;
        if (const Status status = RetakeControlLock(c.monitor); IsFailure(status)) return status;
        if (const Status status = CheckMonitorVersions(c); IsFailure(status)) return status;
    }
    if (Has(c.monitor, command_usage::kSelect)) {
        const Status status = MonRunCompletionCommand(c.monitor, c.progress);
        if (IsFailure(status) && status != kMonUnavailable) return status;
    }
    if (const Status status = RestoreMonitorSettings(c); IsFailure(status)) return status;
    // A monitor without switch F0 has nothing to switch back on.
    if (Has(c.monitor, command_usage::kSwitchF0)) {
        if (const Status status = MonSetSwitchF0(c.monitor, 1); IsFailure(status)) return status;
    }
    return ChangeStage(c, kStageDone);
}

Status RunSteps(UpdateContext& c) {
    // A finished update is not started again: that would take the monitor back into its update state.
    if (c.stage == kStageDone) return kStatusSuccess;
    // A new update plans once its set is attached.
    if (c.stage != kStageNew) PlanRun(c);
    Status status = kStatusSuccess;
    if (c.stage == kStageNew && IsFailure(status = PrepareRecord(c))) return status;
    // Once the monitor runs the new firmware it is not taken back into its update state.
    if (c.stage < kStageRestarted && IsFailure(status = EnterUpdateState(c))) return status;
    if (c.stage == kStageWriting) {
        if (IsFailure(status = RestartBeforeWriting(c))) return status;
        status = CheckComponentsFit(c.monitor, c.components, WrittenTypes(c));
        if (status == kMonGeometryMismatch) return LeaveWithNothingWritten(c, status);
        if (IsFailure(status) || IsFailure(status = WriteComponents(c))) return status;
        if (IsFailure(status = WriteBootSelector(c.monitor, 0))) return status;
        if (IsFailure(status = ChangeStage(c, kStageWritten))) return status;
    }
    if (c.stage == kStageWritten && IsFailure(status = RestartIntoNewFirmware(c))) return status;
    if (c.stage == kStageRestarted && IsFailure(status = ReadBackComponents(c))) return status;
    if (c.stage == kStageChecked && IsFailure(status = StoreListedSettings(c))) return status;
    if (c.stage == kStageSettingsStored && IsFailure(status = CheckAndFinish(c))) return status;
    return c.stage == kStageDone ? kStatusSuccess : kUpdFailed;
}

}  // namespace

Status RunOlderMonitorUpdate(UpdateContext& update, MonitorHandle monitor, PackageHandle package,
                             PackageHandle record) {
    if (const Status status = BeginSequence(update, monitor, package, record); IsFailure(status)) return status;
    return RunSteps(update);
}
