#include "app/backup_record.h"

Status ReadBackupRecord(RunBackupRecord& r) { return PkgReadBackupValues(r.recordHandle, r); }

std::map<std::uint16_t, ComponentDescriptor> FirmwareComponents(const BackupValues& record) {
    std::map<std::uint16_t, ComponentDescriptor> firmware;
    for (const auto& [type, descriptor] : record.components)
        if (type >= kFirstComponentType && type <= 5) firmware.emplace(type, descriptor);
    return firmware;
}
