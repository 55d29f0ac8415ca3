#include "app/backup_record.h"

#include <array>
#include <cstring>

namespace {

// A text property: read into a buffer of `size` bytes and cut at the first zero.
Status ReadText(PackageHandle handle, std::uint32_t id, std::size_t size, std::string& text) {
    std::array<char, 32> buffer{};
    const Status status = PkgGetProperty(handle, id, buffer.data(), size);
    if (!IsFailure(status)) text.assign(buffer.data(), strnlen(buffer.data(), size));
    return status;
}

template <typename T>
Status ReadNumber(PackageHandle handle, std::uint32_t id, T& value) {
    return PkgGetProperty(handle, id, &value, sizeof value);
}

}  // namespace

Status ReadBackupRecord(RunBackupRecord& r) {
    const PackageHandle h = r.recordHandle;
    Status status = kStatusSuccess;
    auto next = [&status](Status s) { return !IsFailure(status = s); };
    std::uint32_t loaderFlag = 0;
    if (!(next(ReadText(h, kPropModelName, 17, r.modelName)) && next(ReadText(h, kPropSerialNumber, 9, r.serialNumber)) &&
          next(ReadText(h, kPropVersion, 26, r.targetVersion)) &&
          next(ReadText(h, kPropKeyOrCurrent, 26, r.currentVersion)) && next(ReadNumber(h, kPropStage, r.stage)) &&
          next(ReadNumber(h, kPropLoaderFlag, loaderFlag)) && next(ReadNumber(h, kPropSavedSettingB8, r.savedSettingB8)) &&
          next(ReadNumber(h, kPropSavedSetting54, r.savedSetting54)) && next(ReadNumber(h, kPropSetting9, r.setting9)) &&
          next(ReadNumber(h, kPropSetting10, r.setting10)) && next(ReadNumber(h, kPropSetting11, r.setting11)) &&
          next(ReadNumber(h, kPropSetting12, r.setting12)) && next(ReadNumber(h, kPropSetting13, r.setting13))))
        return status;
    r.loaderFlag = loaderFlag & 0xFF;  // only the low byte is stored
    r.descriptors.clear();
    for (std::uint32_t id = kPropFirstComponent; id < kPropFirstComponent + 5; ++id) {
        ComponentDescriptor descriptor;
        if (!IsFailure(PkgGetProperty(h, id, &descriptor, sizeof descriptor)))
            r.descriptors[static_cast<std::uint16_t>(id - kPropComponentType)] = descriptor;
    }
    return ReadNumber(h, kPropSavedSetting68, r.savedSetting68);
}
