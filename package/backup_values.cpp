#include "package/backup_values.h"

#include <array>
#include <cstring>

namespace {

// A text into its field with the terminator after it; false when it does not fit.
template <std::size_t N>
bool PutText(const std::string& text, std::array<char, N>& field) {
    if (text.size() >= N || text.find('\0') != std::string::npos) return false;
    field.fill('\0');
    text.copy(field.data(), text.size());
    return true;
}

template <std::size_t N>
Status ReadText(PackageHandle record, std::uint32_t id, std::string& text) {
    std::array<char, N> field{};
    if (const Status status = PkgGetProperty(record, id, field.data(), field.size()); IsFailure(status))
        return status;
    text.assign(field.data(), strnlen(field.data(), field.size()));
    return kStatusSuccess;
}

template <typename T>
Status ReadNumber(PackageHandle record, std::uint32_t id, T& value) {
    T read = 0;  // a property may be narrower than its field
    if (const Status status = PkgGetProperty(record, id, &read, sizeof read); IsFailure(status)) return status;
    value = read;
    return kStatusSuccess;
}

// Every value but the components, in the order a record is read.
Status SetValues(PackageHandle record, const BackupInfo& info) {
    const auto set = [record](std::uint32_t id, const void* value, std::size_t size) {
        return PkgSetProperty(record, id, value, size);
    };
    const std::uint8_t loaderFlag = static_cast<std::uint8_t>(info.loaderFlag);
    for (const Status status : {
             set(kPropModelName, info.modelName.data(), info.modelName.size()),
             set(kPropSerialNumber, info.serialNumber.data(), info.serialNumber.size()),
             set(kPropVersion, info.targetVersion.data(), info.targetVersion.size()),
             set(kPropKeyOrCurrent, info.currentVersion.data(), info.currentVersion.size()),
             set(kPropStage, &info.stage, sizeof info.stage),
             set(kPropLoaderFlag, &loaderFlag, sizeof loaderFlag),
             set(kPropSavedSettingB8, &info.savedSettingB8, sizeof info.savedSettingB8),
             set(kPropSavedSetting54, &info.savedSetting54, sizeof(std::uint16_t)),
             set(kPropSetting9, &info.setting9, sizeof(std::uint8_t)),
             set(kPropSetting10, &info.setting10, sizeof(std::uint8_t)),
             set(kPropSetting11, &info.setting11, sizeof info.setting11),
             set(kPropSetting12, &info.setting12, sizeof info.setting12),
             set(kPropSetting13, &info.setting13, sizeof info.setting13),
             set(kPropSavedSetting68, &info.savedSetting68, sizeof info.savedSetting68),
         }) {
        if (IsFailure(status)) return status;
    }
    return kStatusSuccess;
}

}  // namespace

Status ToBackupInfo(const BackupValues& v, BackupInfo& info) {
    BackupInfo made;
    if (!PutText(v.identity.model, made.modelName) || !PutText(v.identity.serial, made.serialNumber) ||
        !PutText(v.targetVersion, made.targetVersion) || !PutText(v.currentVersion, made.currentVersion))
        return kPkgInvalid;
    made.loaderFlag = v.loaderFlag & 0xFF;
    made.stage = static_cast<std::uint32_t>(v.stage);
    made.savedSettingB8 = v.savedSettingB8;
    made.savedSetting54 = v.savedSetting54;
    made.setting9 = v.setting9;
    made.setting10 = v.setting10;
    made.setting11 = v.setting11;
    made.setting12 = v.setting12;
    made.setting13 = v.setting13;
    made.savedSetting68 = v.savedSetting68;
    info = made;
    return kStatusSuccess;
}

Status PkgReadBackupValues(PackageHandle record, BackupValues& v) {
    using Info = BackupInfo;
    BackupValues read;
    std::uint8_t loaderFlag = 0;
    for (const Status status : {
             ReadText<std::tuple_size_v<decltype(Info::modelName)>>(record, kPropModelName, read.identity.model),
             ReadText<std::tuple_size_v<decltype(Info::serialNumber)>>(record, kPropSerialNumber, read.identity.serial),
             ReadText<std::tuple_size_v<decltype(Info::targetVersion)>>(record, kPropVersion, read.targetVersion),
             ReadText<std::tuple_size_v<decltype(Info::currentVersion)>>(record, kPropKeyOrCurrent,
                                                                          read.currentVersion),
             ReadNumber(record, kPropStage, read.stage),
             ReadNumber(record, kPropLoaderFlag, loaderFlag),
             ReadNumber(record, kPropSavedSettingB8, read.savedSettingB8),
             ReadNumber(record, kPropSavedSetting54, read.savedSetting54),
             ReadNumber(record, kPropSetting9, read.setting9),
             ReadNumber(record, kPropSetting10, read.setting10),
             ReadNumber(record, kPropSetting11, read.setting11),
             ReadNumber(record, kPropSetting12, read.setting12),
             ReadNumber(record, kPropSetting13, read.setting13),
             ReadNumber(record, kPropSavedSetting68, read.savedSetting68),
         }) {
        if (IsFailure(status)) return status;
    }
    read.loaderFlag = loaderFlag;
    for (std::uint32_t id = kPropFirstComponent; id <= kPropLastComponent; ++id) {
        ComponentDescriptor descriptor;
        if (!IsFailure(PkgGetProperty(record, id, &descriptor, sizeof descriptor)))
            read.components[static_cast<std::uint16_t>(id - kPropComponentType)] = descriptor;
    }
    v = std::move(read);
    return kStatusSuccess;
}

Status PkgEditBackupRecord(PackageHandle record, const std::string& path, BackupValues& values,
                           const std::function<void(BackupValues&)>& edit) {
    BackupInfo before, after;
    if (const Status status = ToBackupInfo(values, before); IsFailure(status)) return status;
    BackupValues edited = values;
    edit(edited);
    if (const Status status = ToBackupInfo(edited, after); IsFailure(status)) return status;
    Status status = SetValues(record, after);
    if (!IsFailure(status)) status = PkgSaveFile(record, path.c_str());
    if (IsFailure(status)) {
        SetValues(record, before);  // the record as the file still has it
        return status;
    }
    values = std::move(edited);
    return kStatusSuccess;
}
