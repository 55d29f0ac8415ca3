#include "update/update_context.h"

#include <cstring>

#include "common/executable_dir.h"
#include "update/update_status.h"

namespace {

// Model name and serial number fields hold a terminator; versions are 26 bytes.
constexpr std::size_t kModelBytes = 17;
constexpr std::size_t kSerialBytes = 9;
constexpr std::size_t kVersionBytes = 26;
constexpr char kBackupFileName[] = ".backup";

template <typename T>
Status Get(PackageHandle record, std::uint32_t id, T& value, std::size_t size = sizeof(T)) {
    return PkgGetProperty(record, id, &value, size);
}

Status GetText(PackageHandle record, std::uint32_t id, std::size_t size, std::string& text) {
    std::string buffer(size, '\0');
    if (const Status status = PkgGetProperty(record, id, buffer.data(), size); IsFailure(status)) return status;
    text.assign(buffer.c_str());
    return kStatusSuccess;
}

}  // namespace

Status LoadUpdateContext(UpdateContext& c) {
    const PackageHandle r = c.record;
    Status status = kStatusSuccess;
    std::uint32_t loaderFlag = 0;
    if (IsFailure(status = GetText(r, kPropModelName, kModelBytes, c.identity.model))) return status;
    if (IsFailure(status = GetText(r, kPropSerialNumber, kSerialBytes, c.identity.serial))) return status;
    if (IsFailure(status = GetText(r, kPropVersion, kVersionBytes, c.targetVersion))) return status;
    if (IsFailure(status = GetText(r, kPropKeyOrCurrent, kVersionBytes, c.currentVersion))) return status;
    if (IsFailure(status = Get(r, kPropStage, c.stage))) return status;
    if (IsFailure(status = Get(r, kPropLoaderFlag, loaderFlag))) return status;
    c.loaderFlag = loaderFlag & 0xFF;
    if (IsFailure(status = Get(r, kPropSavedSettingB8, c.savedSettingB8))) return status;
    if (IsFailure(status = Get(r, kPropSavedSetting54, c.savedSetting54))) return status;
    if (IsFailure(status = Get(r, kPropSetting9, c.setting9))) return status;
    if (IsFailure(status = Get(r, kPropSetting10, c.setting10))) return status;
    if (IsFailure(status = Get(r, kPropSetting11, c.setting11))) return status;
    if (IsFailure(status = Get(r, kPropSetting12, c.setting12))) return status;
    if (IsFailure(status = Get(r, kPropSetting13, c.setting13))) return status;
    c.components.clear();
    for (std::uint32_t id = kPropFirstComponent; id <= kPropLastComponent; ++id) {
        // Component properties 15 to 20 hold componentTypes 1 to 6.
        ComponentDescriptor descriptor;
        if (Get(r, id, descriptor) == kStatusSuccess)
            c.components[static_cast<std::uint16_t>(id - kPropComponentType)] = descriptor;
    }
    return Get(r, kPropSavedSetting68, c.savedSetting68);
}

Status SaveBackupFile(const UpdateContext& c) {
    std::string path = c.backupPath;
    if (path.empty()) path = ExecutableDirectory().value_or("") + kBackupFileName;
    return PkgSaveFile(c.record, path.c_str());
}

Status ReturnToFirstStage(UpdateContext& c, Status why) {
    const std::uint8_t runs = 0;
    if (const Status status = PkgSetProperty(c.record, kPropLoaderFlag, &runs, sizeof runs); IsFailure(status))
        return status;
    c.loaderFlag = 0;
    if (const Status status = ChangeStage(c, kStageNew); IsFailure(status)) return status;
    return why;
}

Status ChangeStage(UpdateContext& c, std::int32_t stage) {
    const std::int32_t previous = c.stage;
    c.stage = stage;
    Status status = PkgSetProperty(c.record, kPropStage, &c.stage, sizeof c.stage);
    if (!IsFailure(status)) status = SaveBackupFile(c);
    if (IsFailure(status)) {
        // The record keeps the stage the file holds, so that a retry in this
        // process resumes where a later start would.
        c.stage = previous;
        PkgSetProperty(c.record, kPropStage, &c.stage, sizeof c.stage);
    }
    return status;
}

Status BeginSequence(UpdateContext& c, MonitorHandle monitor, PackageHandle package, PackageHandle record) {
    if (monitor == kNoMonitor || record == kNoPackageHandle) return kUpdBadArgument;
    c.monitor = monitor;
    if (package != kNoPackageHandle) c.package = package;
    c.record = record;
    return LoadUpdateContext(c);
}
