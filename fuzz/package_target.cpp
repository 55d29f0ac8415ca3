// Fuzz target: a package, image or backup file through PkgLoadFile, then every
// property, set selection, attaching a set to a backup record, and saving.
// A file the library saved must load again. The whole way: the file loaded.
#include <array>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "package/container.h"
#include "package/content.h"
#include "package/pkg.h"

namespace {

constexpr char kMonitorVersion[] = "0000100002000030000400123";

void ReadEveryProperty(PackageHandle handle) {
    alignas(8) std::array<std::uint8_t, 512> buffer{};
    for (std::uint32_t id = 0; id <= kPropSavedSetting68 + 1; ++id) {
        PkgGetProperty(handle, id, buffer.data(), buffer.size());
        PkgGetProperty(handle, id, buffer.data(), 1);
    }
}

// What the library wrote it must read back.
void SaveAndReload(PackageHandle handle) {
    const std::string path = fuzz_support::ScratchDir() + "/saved";
    if (PkgSaveFile(handle, path.c_str()) != kStatusSuccess) return;
    const ContainerFile file = ReadContainerFile(path);
    std::string fault;
    if (file.status != kStatusSuccess || !ParsePayload(file.payload, fault)) std::abort();
}

BackupInfo SampleInfo() {
    BackupInfo info;
    std::memcpy(info.modelName.data(), "MON27", 5);
    std::memcpy(info.serialNumber.data(), "SN123456", 8);
    std::memcpy(info.targetVersion.data(), kMonitorVersion, 25);
    std::memcpy(info.currentVersion.data(), kMonitorVersion, 25);
    info.stage = 300;
    return info;
}

}  // namespace

bool fuzz_target::Run(std::span<const std::uint8_t> input) {
    fuzz_support::Reader in(input);
    const std::uint8_t mode = in.U8();
    const std::string path = fuzz_support::WriteScratchFile("input", fuzz_support::FileBytes(mode, in.Rest()));

    PackageHandle handle = kNoPackageHandle;
    const bool loaded = PkgLoadFile(path.c_str(), &handle) == kStatusSuccess;
    if (loaded) {
        ReadEveryProperty(handle);
        PkgHasMatchingSet(handle, kMonitorVersion);
        PackageHandle selected = kNoPackageHandle;
        if (PkgSelectSet(handle, kMonitorVersion, &selected) == kStatusSuccess) {
            ReadEveryProperty(selected);
            SaveAndReload(selected);
        }
        const BackupInfo info = SampleInfo();
        PackageHandle record = kNoPackageHandle;
        // A loaded backup file is the record already; otherwise make one to attach to.
        std::uint32_t kind = 0;
        PkgGetProperty(handle, kPropKind, &kind, sizeof kind);
        if (kind == 256) {
            record = handle;
        } else {
            PkgCreateBackupRecord(&info, &record);
        }
        if (PkgAttachSet(handle, &record) == kStatusSuccess) ReadEveryProperty(record);
        SaveAndReload(handle);
        SaveAndReload(record);
    }
    PkgCloseAll();
    return loaded;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_target::Run({data, size});
    return 0;
}
