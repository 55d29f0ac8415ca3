#include "package/pkg.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "package/properties.h"
#include "package/version_text.h"

namespace {

template <typename T>
struct Entry {
    std::uint64_t id;
    std::unique_ptr<T> object;
};

// The library's process-wide state. Objects stay until PkgCloseAll.
struct Library {
    std::uint64_t lastId = 0;
    std::vector<Entry<FirmwareImage>> images;
    std::vector<Entry<FirmwarePackage>> packages;
    std::optional<Entry<BackupRecord>> record;

    PackageHandle NewHandle(std::uint64_t& id) {
        id = ++lastId;
        return PackageHandle{id};
    }
};

Library& State() {
    static Library library;
    return library;
}

// What a handle designates; at most one pointer is set.
struct Resolved {
    FirmwareImage* image = nullptr;
    FirmwarePackage* package = nullptr;
    BackupRecord* record = nullptr;

    bool Known() const { return image != nullptr || package != nullptr || record != nullptr; }
    std::uint16_t Kind() const {
        if (image != nullptr) return kKindImage;
        if (record != nullptr) return kKindBackupRecord;
        return package != nullptr ? package->Kind() : 0;
    }
};

template <typename T>
T* Find(std::vector<Entry<T>>& table, std::uint64_t id) {
    for (auto& e : table)
        if (e.id == id) return e.object.get();
    return nullptr;
}

// Images first, then the backup record, then packages.
Resolved ResolveHandle(PackageHandle handle) {
    const auto id = static_cast<std::uint64_t>(handle);
    Resolved r;
    if (id == 0) return r;
    Library& lib = State();
    if ((r.image = Find(lib.images, id)) != nullptr) return r;
    if (lib.record && lib.record->id == id) {
        r.record = lib.record->object.get();
        return r;
    }
    r.package = Find(lib.packages, id);
    return r;
}

template <typename T>
PackageHandle Append(std::vector<Entry<T>>& table, T object) {
    std::uint64_t id;
    const PackageHandle handle = State().NewHandle(id);
    table.push_back({id, std::make_unique<T>(std::move(object))});
    return handle;
}

PackageHandle PutRecord(BackupRecord record) {
    std::uint64_t id;
    const PackageHandle handle = State().NewHandle(id);
    State().record = Entry<BackupRecord>{id, std::make_unique<BackupRecord>(std::move(record))};
    return handle;
}

// A model name as a text, up to its first zero byte.
std::string_view NameOf(std::span<const std::uint8_t> bytes) { return TextUpToZero(bytes); }
std::string_view NameOf(const std::array<char, 17>& name) { return TextUpToZero(std::string_view(name.data(), name.size())); }

// A package model name matches a monitor's: equal, or equal up to its first
// "*"; a name that begins with "*" matches every monitor.
bool ModelMatches(std::string_view packageName, std::string_view recordName) {
    const auto star = packageName.find('*');
    if (star == std::string_view::npos) return packageName == recordName;
    return recordName.size() >= star && packageName.substr(0, star) == recordName.substr(0, star);
}

Status PkgLoadFileUnguarded(const char* path, PackageHandle* handle, FileLinks links) {
    if (path == nullptr || handle == nullptr) return kPkgInvalid;
    const ContainerFile file = ReadContainerFile(path, links);
    if (file.status != kStatusSuccess) return file.status;
    if (file.payload->size() >= 2 && ReadU16(*file.payload, 0) == kKindBackupRecord && State().record)
        return kPkgRecordExists;
    std::string fault;
    auto content = ParsePayload(file.payload, fault);
    if (!content) return kPkgInvalid;
    if (auto* image = std::get_if<FirmwareImage>(&*content)) *handle = Append(State().images, std::move(*image));
    else if (auto* package = std::get_if<FirmwarePackage>(&*content)) *handle = Append(State().packages, std::move(*package));
    else *handle = PutRecord(std::move(std::get<BackupRecord>(*content)));
    return kStatusSuccess;
}

Status PkgSaveFileUnguarded(PackageHandle handle, const char* path) {
    const Resolved r = ResolveHandle(handle);
    if (!r.Known()) return kPkgInvalidHandle;
    if (path == nullptr) return kPkgInvalid;
    std::optional<std::vector<std::uint8_t>> payload;
    if (r.image != nullptr) payload = SerializeImage(*r.image);
    if (r.package != nullptr) payload = SerializePackage(*r.package);
    if (r.record != nullptr) {
        // Never replace a good backup file by one that would be refused when read back.
        if (!BackupInfoFault(r.record->info).empty()) return kPkgInvalid;
        payload = SerializeBackupRecord(*r.record);
    }
    if (!payload) return kPkgInvalid;
    return WriteContainer(path, payload->data(), payload->size());
}

Status PkgSetPropertyUnguarded(PackageHandle handle, std::uint32_t id, const void* buffer, std::size_t size) {
    if (buffer == nullptr) return kPkgInvalid;
    const Resolved r = ResolveHandle(handle);
    if (!r.Known()) return kPkgInvalidHandle;
    if (r.record == nullptr) return kPkgPropertyAbsent;  // packages and images are read-only
    return SetRecordProperty(*r.record, id, std::span(static_cast<const std::uint8_t*>(buffer), size));
}

Status PkgCreateBackupRecordUnguarded(const BackupInfo* info, PackageHandle* handle) {
    if (handle == nullptr || info == nullptr) return kPkgInvalid;
    if (State().record) return kPkgRecordExists;
    if (!BackupInfoFault(*info).empty()) return kPkgInvalid;
    *handle = PutRecord(BackupRecord{*info, std::nullopt});
    return kStatusSuccess;
}

Status PkgSelectSetUnguarded(PackageHandle handle, const char* version, PackageHandle* selected) {
    if (version == nullptr || selected == nullptr) return kPkgInvalid;
    const Resolved r = ResolveHandle(handle);
    if (!r.Known()) return kPkgInvalidHandle;
    if (r.Kind() != kKindMultiPackage) return kPkgWrongKind;
    const FirmwarePackage& source = *r.package;
    const std::string key = FindMatchingSetKey(source, version);
    if (key.empty()) return kPkgNoMatchingSet;

    FirmwarePackage chosen;
    const std::string_view name = NameOf(source.modelName);
    std::copy(name.begin(), name.end(), chosen.modelName.begin());
    chosen.version = source.version;
    if (chosen.version.size() != kVersionLength && chosen.version.size() != kVersionFieldBytes) return kPkgInvalid;
    // The loaded package's bytes never change, so the new set shares them
    // rather than copying what may be tens of megabytes.
    FirmwareSet set;
    set.key = source.sets.at(key).key;
    set.components = source.sets.at(key).components;
    if (set.components.empty()) return kPkgNoComponentToCopy;
    chosen.sets.emplace(key, std::move(set));
    *selected = Append(State().packages, std::move(chosen));
    return kStatusSuccess;
}

Status PkgAttachSetUnguarded(PackageHandle handle, PackageHandle* record) {
    if (record == nullptr) return kPkgInvalid;
    const Resolved r = ResolveHandle(handle);
    if (!r.Known()) return kPkgInvalidHandle;
    if (r.Kind() != kKindSinglePackage) return kPkgWrongKind;
    Library& lib = State();
    if (!lib.record || static_cast<std::uint64_t>(*record) != lib.record->id) return kPkgInvalid;
    BackupRecord& rec = *lib.record->object;
    const FirmwarePackage& package = *r.package;
    if (!ModelMatches(NameOf(package.modelName), NameOf(rec.info.modelName))) return kPkgModelMismatch;

    rec.info.targetVersion.fill('\0');
    std::copy_n(package.version.begin(), std::min(package.version.size(), rec.info.targetVersion.size()),
                rec.info.targetVersion.begin());
    if (package.sets.empty()) return kPkgInvalid;
    // The record takes its own copy of the set, made the way it will be read
    // back from the backup file: serialized and parsed again.
    const auto block = SerializeSet(package.sets.begin()->second);
    if (!block) return kPkgInvalid;
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(*block));
    std::string fault;
    auto copy = ParseSet(bytes, *bytes, fault);
    if (!copy) return kPkgInvalid;
    rec.set = std::move(*copy);
    return kStatusSuccess;
}

// Nothing throws across the library's interface: running out of memory while
// building or copying an object is reported as a failure, and the tables stay
// as they were.
template <typename F>
Status WithoutThrowing(Status onFailure, F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return onFailure;
    }
}

}  // namespace

Status PkgGetProperty(PackageHandle handle, std::uint32_t id, void* buffer, std::size_t size) {
    if (buffer == nullptr) return kPkgInvalid;
    const Resolved r = ResolveHandle(handle);
    if (!r.Known()) return kPkgInvalidHandle;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (r.image != nullptr) bytes = PropertyBytes(*r.image, id);
    if (r.package != nullptr) bytes = PropertyBytes(*r.package, id);
    if (r.record != nullptr) bytes = PropertyBytes(*r.record, id);
    if (!bytes) return kPkgPropertyAbsent;
    if (size < bytes->size()) return kPkgBufferTooSmall;
    std::memcpy(buffer, bytes->data(), bytes->size());
    return kStatusSuccess;
}

void PkgCloseAll() {
    Library& lib = State();
    lib.images.clear();
    lib.packages.clear();
    lib.record.reset();
}

int PkgHasMatchingSet(PackageHandle handle, const char* version) {
    if (version == nullptr) return 0;
    const Resolved r = ResolveHandle(handle);
    if (r.package == nullptr || r.package->Kind() != kKindSinglePackage) return 0;
    return FindMatchingSetKey(*r.package, version).empty() ? 0 : 1;
}

Status PkgLoadFile(const char* path, PackageHandle* handle, FileLinks links) {
    return WithoutThrowing(kPkgCannotOpen, [&] { return PkgLoadFileUnguarded(path, handle, links); });
}

Status PkgSaveFile(PackageHandle handle, const char* path) {
    return WithoutThrowing(kPkgCannotOpen, [&] { return PkgSaveFileUnguarded(handle, path); });
}

Status PkgSetProperty(PackageHandle handle, std::uint32_t id, const void* buffer, std::size_t size) {
    return WithoutThrowing(kPkgInvalid, [&] { return PkgSetPropertyUnguarded(handle, id, buffer, size); });
}

Status PkgCreateBackupRecord(const BackupInfo* info, PackageHandle* handle) {
    return WithoutThrowing(kPkgInvalid, [&] { return PkgCreateBackupRecordUnguarded(info, handle); });
}

Status PkgSelectSet(PackageHandle handle, const char* version, PackageHandle* selected) {
    return WithoutThrowing(kPkgInvalid, [&] { return PkgSelectSetUnguarded(handle, version, selected); });
}

Status PkgAttachSet(PackageHandle handle, PackageHandle* record) {
    return WithoutThrowing(kPkgInvalid, [&] { return PkgAttachSetUnguarded(handle, record); });
}
