#include "update/combined_packet_update.h"

#include <algorithm>
#include <vector>

#include "monitor/component_transfer.h"
#include "monitor/discovery.h"
#include "package/version_text.h"
#include "update/component_writing.h"
#include "update/monitor_settings.h"
#include "update/monitor_steps.h"
#include "update/progress_steps.h"
#include "update/update_context.h"
#include "update/update_status.h"

namespace {

// The field of the version text that carries a component's version.
std::size_t VersionField(std::uint16_t type) {
    switch (type) {
        case 2: return 0;
        case 3: return 1;
        case 4: return 2;
        case 1: return 3;
        default: return 4;  // 5
    }
}

// Whether the set carries the component and the monitor does not have its version already.
bool NeedsWriting(const UpdateContext& c, std::uint16_t type) {
    if (!c.components.contains(type)) return false;
    const VersionText current(c.currentVersion);
    const std::size_t field = VersionField(type);
    // A wildcard field says nothing about what the monitor holds.
    return !current.HasField(field) || current.Field(field) != VersionText(c.targetVersion).Field(field) ||
           current.IsWildcard(field);
}

std::vector<std::uint16_t> ChangedTypes(const UpdateContext& c) {
    std::vector<std::uint16_t> types;
    for (const std::uint16_t type : kComponentWriteOrder)
        if (NeedsWriting(c, type)) types.push_back(type);
    return types;
}

// The whole update from the record's stage: the steps before it are done.
void PlanRun(const UpdateContext& c) {
    if (!c.progress) return;
    std::vector<PlannedStep> steps{
        PlannedStepAt(c, UpdateStep::Preparing, kStagePrepared),
        PlannedStepAt(c, UpdateStep::EnteringUpdateState, kStageRestarted),
    };
    // A monitor stopped in an update takes components already.
    if (c.loaderFlag == 1) steps.back().done = true;
    const std::vector<std::uint16_t> changed = ChangedTypes(c);
    for (std::uint32_t i = 0; i < changed.size(); ++i) {
        // Timed only where there is something left to write.
        const TransferEstimate estimate = c.stage < kStageWritten ? EstimateTransfer(c, changed[i]) : TransferEstimate{};
        steps.push_back(PlannedWrite(c, i + 1, c.components.at(changed[i]), kStageWritten, estimate));
    }
    steps.push_back(PlannedStepAt(c, UpdateStep::Restarting, kStageRestarted, kRestartReconnectWaitMs));
    steps.push_back(PlannedStepAt(c, UpdateStep::RestoringSettings, kStageSettingsStored, ListedSettingsWaitMs(c)));
    steps.push_back(PlannedStepAt(c, UpdateStep::Finishing, kStageDone));
    PlanSteps(c, steps);
}

Status AttachPackage(UpdateContext& c) {
    if (c.package == kNoPackageHandle) return kUpdBadArgument;
    if (const Status status = PkgAttachSet(c.package, &c.record); IsFailure(status)) return status;
    if (const Status status = LoadUpdateContext(c); IsFailure(status)) return status;
    // The plan needs the set's components, so it is made once they are attached.
    PlanRun(c);
    EnterStep(c, UpdateStep::Preparing);
    // With nothing to write the update would leave the boot selector at 1 and
    // fail: the package cannot update this monitor. Decided before the boot selector is touched.
    const auto writes = [&](std::uint16_t type) { return NeedsWriting(c, type); };
    if (std::none_of(kComponentWriteOrder.begin(), kComponentWriteOrder.end(), writes)) return kPkgNoMatchingSet;
    return ChangeStage(c, kStagePrepared);
}

// Writes the components whose version field the monitor does not have already.
Status WriteChangedComponents(const UpdateContext& c) { return WriteComponentSteps(c, ChangedTypes(c)); }

Status CheckAndFinish(UpdateContext& c) {
    EnterStep(c, UpdateStep::Finishing);
    if (IsFailure(CheckMonitorVersions(c))) {
        if (const Status status = WriteRestart(c.monitor); IsFailure(status)) return status;
        if (const Status status = ReconnectLoop(c, kReconnectMs); IsFailure(status)) return status;
        if (const Status status = CheckMonitorVersions(c); IsFailure(status)) return status;
    }
    return ChangeStage(c, kStageDone);
}

Status RunSteps(UpdateContext& c) {
    // A finished update is not started again.
    if (c.stage == kStageDone) return kStatusSuccess;
    // A new update plans once its set is attached.
    if (c.stage != kStageNew) PlanRun(c);
    Status status = kStatusSuccess;
    if (c.stage == kStageNew && IsFailure(status = AttachPackage(c))) return status;
    // A monitor stopped in an update (loaderFlag 1) takes components already.
    // Once it has restarted into the new firmware the boot selector stays 0:
    // left at 1, the monitor's next restart would take it into its update state.
    if (c.loaderFlag != 1 && c.stage < kStageRestarted) {
        EnterStep(c, UpdateStep::EnteringUpdateState);
        if (IsFailure(status = WriteBootSelector(c.monitor, 1))) return status;
    }
    if (c.stage == kStagePrepared && IsFailure(status = ChangeStage(c, kStageWriting))) return status;
    if (c.stage == kStageWriting) {
        if (IsFailure(status = WriteBootSelector(c.monitor, 1))) return status;
        status = CheckComponentsFit(c.monitor, c.components, ChangedTypes(c));
        // Nothing is written yet: the monitor restarts into its firmware (boot
        // selector 0) and the record returns to its first stage.
        if (status == kMonGeometryMismatch) {
            EnterStep(c, UpdateStep::Restarting);
            c.monitor = MonRestartAndReconnect(c.monitor, c.identity, c.progress);
            if (c.monitor == kNoMonitor) return kUpdFailed;
            return ReturnToFirstStage(c, status);
        }
        if (IsFailure(status) || IsFailure(status = WriteChangedComponents(c))) return status;
        if (IsFailure(status = ChangeStage(c, kStageWritten))) return status;
    }
    if (c.stage == kStageWritten) {
        // Writes the boot selector 0 before the restart on these monitors.
        EnterStep(c, UpdateStep::Restarting);
        c.monitor = MonRestartAndReconnect(c.monitor, c.identity, c.progress);
        if (c.monitor == kNoMonitor) return kUpdFailed;
        if (IsFailure(status = ChangeStage(c, kStageRestarted))) return status;
    }
    // These monitors check each component by its checksum while it is written.
    if (c.stage == kStageRestarted && IsFailure(status = ChangeStage(c, kStageChecked))) return status;
    if (c.stage == kStageChecked) {
        EnterStep(c, UpdateStep::RestoringSettings);
        if (IsFailure(status = RestoreListedSettings(c))) return status;
        if (IsFailure(status = ChangeStage(c, kStageSettingsStored))) return status;
    }
    if (c.stage == kStageSettingsStored && IsFailure(status = CheckAndFinish(c))) return status;
    return c.stage == kStageDone ? kStatusSuccess : kUpdFailed;
}

}  // namespace

Status RunCombinedPacketUpdate(UpdateContext& update, MonitorHandle monitor, PackageHandle package,
                               PackageHandle record) {
    if (const Status status = BeginSequence(update, monitor, package, record); IsFailure(status)) return status;
    return RunSteps(update);
}
