#include "hid/interface_record.h"

bool OpenHidInterface(const std::string& path, bool readAccess, HidInterfaceRecord& record) {
    record = HidInterfaceRecord{};
    record.devicePath = path;
    std::unique_ptr<HidConnection> connection = ActivePlatform().Open(path, readAccess);
    if (!connection) return false;

    record.openedForRead = readAccess;
    record.attributes = connection->Attributes();
    record.capabilities = DeriveCapabilities(connection->ReportDescriptor());
    for (const HidReportType type : {HidReportType::Input, HidReportType::Output, HidReportType::Feature}) {
        record.ReportBuffer(type).assign(record.capabilities.ReportByteLength(type), 0);
        record.DataItems(type) = BuildDataItems(record.capabilities, type);
    }
    record.connection = std::move(connection);
    return true;
}

std::optional<std::vector<HidInterfaceRecordPtr>> EnumerateHidInterfaces() {
    std::optional<std::vector<std::string>> paths = ActivePlatform().EnumeratePaths();
    if (!paths) return std::nullopt;
    std::vector<HidInterfaceRecordPtr> records;
    records.reserve(paths->size());
    for (const std::string& path : *paths) {
        auto record = std::make_unique<HidInterfaceRecord>();
        OpenHidInterface(path, /*readAccess=*/false, *record);
        records.push_back(std::move(record));
    }
    return records;
}
