#include "package/content.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "common/bytes.h"
#include "package/package_testing.h"
#include "package/pkg.h"

namespace {

using namespace testing_support;

// Offsets in payloads, as the files lay them out.
constexpr std::size_t kPackageHeader = 2048;
constexpr std::size_t kPackageCount = 51;
std::size_t PackageEntry(std::size_t i) { return 53 + 37 * i; }
constexpr std::size_t kSetHeader = 256;
constexpr std::size_t kSetCount = 51;
std::size_t SetEntry(std::size_t j) { return 53 + 10 * j; }

const std::string kKeyA = "0001000002000030000400005";
const std::string kKeyB = "0001000002000030000400006";

FirmwarePackage TwoSetPackage() {
    return Package("MODEL-X", "0100200030000400005000063",
                   {Set(kKeyA, {Component(2, Pattern(300, 1), 12, 0x81), Component(5, Pattern(40, 2), 3, 0)}),
                    Set(kKeyB, {Component(1, Pattern(10, 3))})});
}

// Offset of set i's block in a package payload, and of component j's block in it.
std::size_t SetBlock(const std::vector<std::uint8_t>& p, std::size_t i) {
    return kPackageHeader + ReadU32(p, PackageEntry(i) + 26);
}
std::size_t ComponentBlock(const std::vector<std::uint8_t>& p, std::size_t set, std::size_t j) {
    const std::size_t s = SetBlock(p, set);
    return s + kSetHeader + ReadU32(p, s + SetEntry(j) + 2);
}

TEST(FirmwarePackage, RoundTripsThroughItsPayload) {
    const FirmwarePackage original = TwoSetPackage();
    const auto payload = PackagePayload(original);
    std::string fault;
    const auto parsed = ParsePackage(Shared(payload), fault);
    ASSERT_TRUE(parsed) << fault;
    EXPECT_EQ(parsed->Kind(), kKindMultiPackage);
    EXPECT_EQ(parsed->modelName, original.modelName);
    EXPECT_EQ(parsed->version, original.version);
    ASSERT_EQ(parsed->sets.size(), 2u);
    for (const auto& [key, set] : original.sets) {
        const FirmwareSet& back = parsed->sets.at(key);
        EXPECT_EQ(back.key, key);
        ASSERT_EQ(back.components.size(), set.components.size());
        for (const auto& [type, c] : set.components) {
            const FirmwareComponent& b = back.components.at(type);
            EXPECT_EQ(b.writeSeconds, c.writeSeconds);
            EXPECT_EQ(b.attribute, c.attribute);
            EXPECT_TRUE(std::ranges::equal(View(b), View(c)));
        }
    }
    EXPECT_EQ(SerializePackage(*parsed), payload);  // byte-exact
    // Stored form in the file: the last field of the version in decimal.
    EXPECT_EQ(std::string(payload.begin() + 19, payload.begin() + 44), "0100200030000400005000099");
    EXPECT_EQ(ReadU16(payload, 0), kKindMultiPackage);
}

TEST(FirmwarePackage, KindIsDerivedFromTheNumberOfSets) {
    auto two = PackagePayload(TwoSetPackage());
    WriteU16(two, 0, kKindSinglePackage);
    std::string fault;
    EXPECT_EQ(ParsePackage(Shared(two), fault)->Kind(), kKindMultiPackage);

    auto one = PackagePayload(Package("M", "0100200030000400005000063", {Set(kKeyA, {Component(2, Pattern(8, 1))})}));
    EXPECT_EQ(ReadU16(one, 0), kKindSinglePackage);
    WriteU16(one, 0, kKindMultiPackage);
    EXPECT_EQ(ParsePackage(Shared(one), fault)->Kind(), kKindSinglePackage);
}

TEST(FirmwarePackage, MalformedPayloadsAreRefusedAsAWhole) {
    const auto good = PackagePayload(TwoSetPackage());
    using Patch = std::function<void(std::vector<std::uint8_t>&)>;
    struct Case {
        const char* what;
        Patch patch;
    };
    const Case cases[] = {
        {"two directory entries with one key",
         [](auto& p) { std::copy_n(p.begin() + PackageEntry(0), 26, p.begin() + PackageEntry(1)); }},
        {"two components of one type",
         [](auto& p) {
             const std::size_t s = SetBlock(p, 0);
             WriteU16(p, s + SetEntry(1), 2);
             WriteU16(p, ComponentBlock(p, 0, 1), 2);
         }},
        {"component block of exactly 128 bytes",
         [](auto& p) { WriteU32(p, SetBlock(p, 0) + SetEntry(1) + 6, 128); }},
        {"component block shorter than its header",
         [](auto& p) { WriteU32(p, SetBlock(p, 0) + SetEntry(1) + 6, 20); }},
        {"component type 0",
         [](auto& p) {
             WriteU16(p, SetBlock(p, 0) + SetEntry(0), 0);
             WriteU16(p, ComponentBlock(p, 0, 0), 0);
         }},
        {"component type 7",
         [](auto& p) {
             WriteU16(p, SetBlock(p, 0) + SetEntry(0), 7);
             WriteU16(p, ComponentBlock(p, 0, 0), 7);
         }},
        {"component length 0", [](auto& p) { WriteU32(p, ComponentBlock(p, 0, 0) + 18, 0); }},
        {"component length beyond its block", [](auto& p) { WriteU32(p, ComponentBlock(p, 0, 0) + 18, 301); }},
        {"directory type differs from the block's", [](auto& p) { WriteU16(p, SetBlock(p, 0) + SetEntry(0), 3); }},
        {"set block not starting with 16", [](auto& p) { WriteU16(p, SetBlock(p, 0), 17); }},
        {"set block shorter than 256 bytes", [](auto& p) { WriteU32(p, PackageEntry(1) + 30, 255); }},
        {"set key of 3 characters", [](auto& p) { p[SetBlock(p, 0) + 2 + 3] = 0; }},
        {"more components than the set directory holds", [](auto& p) { WriteU16(p, SetBlock(p, 0) + kSetCount, 21); }},
        {"more sets than the package directory holds", [](auto& p) { WriteU16(p, kPackageCount, 54); }},
        {"set directory entry past the payload", [](auto& p) { WriteU32(p, PackageEntry(1) + 26, 0x00100000); }},
        {"set block size past the payload", [](auto& p) { WriteU32(p, PackageEntry(1) + 30, 0xFFFFFFF0); }},
        {"set offset and size that overflow", [](auto& p) {
             WriteU32(p, PackageEntry(1) + 26, 0xFFFFFFFF);
             WriteU32(p, PackageEntry(1) + 30, 0xFFFFFFFF);
         }},
        {"component offset past its set", [](auto& p) { WriteU32(p, SetBlock(p, 0) + SetEntry(1) + 2, 0x7FFFFFFF); }},
        {"header cut short", [](auto& p) { p.resize(2047); }},
    };
    std::string fault;
    ASSERT_TRUE(ParsePackage(Shared(good), fault)) << fault;
    for (const auto& c : cases) {
        auto bad = good;
        c.patch(bad);
        fault.clear();
        EXPECT_FALSE(ParsePackage(Shared(bad), fault)) << c.what;
        EXPECT_FALSE(fault.empty()) << c.what;
    }
}

// Every component a parser accepts must lie inside the payload it came from.
void ExpectInside(const FirmwarePackage& p, const std::vector<std::uint8_t>& payload) {
    for (const auto& [key, s] : p.sets)
        for (const auto& [type, c] : s.components) {
            ASSERT_GE(c.data.data, payload.data());
            ASSERT_LE(c.data.data + c.data.size, payload.data() + payload.size());
        }
}

TEST(FirmwarePackage, EveryTruncationIsRefused) {
    const auto good = PackagePayload(TwoSetPackage());
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::string fault;
        EXPECT_FALSE(ParsePackage(Shared(std::vector(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))), fault))
            << "length " << n;
    }
    auto padded = good;
    padded.resize(good.size() + 5, 0);  // trailing padding from the container is ignored
    std::string fault;
    EXPECT_TRUE(ParsePackage(Shared(padded), fault)) << fault;
}

TEST(FirmwarePackage, RandomHeaderDamageNeverReadsOutside) {
    const auto good = PackagePayload(TwoSetPackage());
    // Damage is aimed at the places that hold counts, offsets, sizes and types.
    std::vector<std::size_t> targets;
    for (std::size_t i = 0; i < 130; ++i) targets.push_back(i);
    for (std::size_t set = 0; set < 2; ++set)
        for (std::size_t i = 0; i < 80; ++i) targets.push_back(SetBlock(good, set) + i);
    for (std::size_t i = 0; i < 24; ++i) targets.push_back(ComponentBlock(good, 0, 0) + i);
    std::mt19937 random(2024);
    for (int round = 0; round < 4000; ++round) {
        auto bad = good;
        const int hits = 1 + round % 4;
        for (int h = 0; h < hits; ++h)
            bad[targets[random() % targets.size()]] = static_cast<std::uint8_t>(random());
        const auto shared = Shared(bad);
        std::string fault;
        if (auto parsed = ParsePackage(shared, fault)) ExpectInside(*parsed, *shared);
    }
}

TEST(FindMatchingSetKey, FieldsFromLastToFirstAreTheLeastBinding) {
    const std::string monitor = "0001000002000030000400005";
    struct Case {
        std::vector<std::string> keys;
        std::string expected;
    };
    const Case cases[] = {
        {{"0001000002000030000400000", "0001000002000030000000005"}, "0001000002000030000400000"},  // k=1 before k=2
        {{"0000000002000030000400005", "0001000000000000000000000"}, "0001000000000000000000000"},  // k=15 before k=16
        {{"0000000000000000000000000", monitor}, monitor},                                            // exact first
        {{"0000000000000000000000000", "0009900002000030000400005"}, "0000000000000000000000000"},  // the catch-all
        {{"0009900002000030000400005"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        FirmwarePackage p;
        for (const auto& key : c.keys) p.sets.emplace(key, Set(key, {Component(2, {1})}));
        EXPECT_EQ(FindMatchingSetKey(p, monitor), c.expected) << testing::PrintToString(c.keys);
    }
}

TEST(FirmwareImage, RoundTripWithItsFFHeader) {
    FirmwareImage img;
    const std::string model = "IMG";
    std::copy(model.begin(), model.end(), img.modelName.begin());
    img.versionField = "00063";  // type 5: hexadecimal in memory
    img.component = Component(5, Pattern(77, 4), 9, 0x42);
    const auto payload = SerializeImage(img).value();
    ASSERT_EQ(payload.size(), 128u + 77u);
    EXPECT_EQ(ReadU16(payload, 0), kKindImage);
    EXPECT_EQ(std::string(payload.begin() + 23, payload.begin() + 28), "00099");  // decimal in the file
    EXPECT_EQ(payload[20], 0xFF);
    EXPECT_EQ(payload[4 + model.size()], 0);  // the model name's terminator ...
    EXPECT_EQ(payload[4 + model.size() + 1], 0xFF);  // ... and the header's 0xFF after it
    EXPECT_TRUE(std::all_of(payload.begin() + 41, payload.begin() + 128, [](auto b) { return b == 0xFF; }));

    std::string fault;
    const auto back = ParseImage(Shared(payload), fault);
    ASSERT_TRUE(back) << fault;
    EXPECT_EQ(back->versionField, "00063");
    EXPECT_EQ(back->component.type, 5);
    EXPECT_EQ(back->component.writeSeconds, 9);
    EXPECT_EQ(back->component.attribute, 0x42);
    EXPECT_TRUE(std::ranges::equal(View(back->component), Pattern(77, 4)));
    EXPECT_EQ(SerializeImage(*back), payload);
}

TEST(FirmwareImage, MalformedImagesAreRefused) {
    FirmwareImage img;
    img.component = Component(2, Pattern(16, 1));
    const auto good = SerializeImage(img).value();
    const std::pair<const char*, std::function<void(std::vector<std::uint8_t>&)>> cases[] = {
        {"type 0", [](auto& p) { WriteU16(p, 2, 0); }},
        {"type 7", [](auto& p) { WriteU16(p, 2, 7); }},
        {"length 0", [](auto& p) { WriteU32(p, 37, 0); }},
        {"length past the payload", [](auto& p) { WriteU32(p, 37, 17); }},
        {"huge length", [](auto& p) { WriteU32(p, 37, 0xFFFFFFFF); }},
        {"header cut short", [](auto& p) { p.resize(127); }},
    };
    for (const auto& [what, patch] : cases) {
        auto bad = good;
        patch(bad);
        std::string fault;
        EXPECT_FALSE(ParseImage(Shared(bad), fault)) << what;
    }
}

BackupRecord SampleRecord() {
    BackupRecord r;
    BackupInfo& i = r.info;
    i.loaderFlag = 1;
    const std::string model = "MONITOR-123", serial = "SN123456";
    std::copy(model.begin(), model.end(), i.modelName.begin());
    std::copy(serial.begin(), serial.end(), i.serialNumber.begin());
    const std::string target = "0100200030000400005000063", current = "0100200030000400005000010";
    std::copy(target.begin(), target.end(), i.targetVersion.begin());
    std::copy(current.begin(), current.end(), i.currentVersion.begin());
    i.stage = 300;
    i.savedSettingB8 = 1;
    i.savedSetting54 = 2;
    i.setting9 = 1;
    i.setting10 = 0;
    i.setting11 = 3;
    i.setting12 = 2;
    i.setting13 = 1;
    i.savedSetting68 = 1;
    return r;
}

bool SameInfo(const BackupInfo& a, const BackupInfo& b) {
    return a.loaderFlag == b.loaderFlag && a.modelName == b.modelName && a.serialNumber == b.serialNumber &&
           a.targetVersion == b.targetVersion && a.currentVersion == b.currentVersion && a.stage == b.stage &&
           a.savedSettingB8 == b.savedSettingB8 && a.savedSetting54 == b.savedSetting54 && a.setting9 == b.setting9 &&
           a.setting10 == b.setting10 && a.setting11 == b.setting11 && a.setting12 == b.setting12 &&
           a.setting13 == b.setting13 && a.savedSetting68 == b.savedSetting68;
}

TEST(BackupRecord, RoundTripsWithAndWithoutASet) {
    BackupRecord r = SampleRecord();
    auto payload = SerializeBackupRecord(r).value();
    ASSERT_EQ(payload.size(), 128u);
    EXPECT_EQ(ReadU16(payload, 29), 300);
    EXPECT_EQ(std::string(payload.begin() + 31, payload.begin() + 56), "0100200030000400005000099");
    std::string fault;
    auto back = ParseBackupRecord(Shared(payload), fault);
    ASSERT_TRUE(back) << fault;
    EXPECT_TRUE(SameInfo(back->info, r.info));
    EXPECT_FALSE(back->set);

    r.set = Set(kKeyA, {Component(3, Pattern(50, 7), 4, 1)});
    payload = SerializeBackupRecord(r).value();
    EXPECT_EQ(payload.size(), 128u + SerializeSet(*r.set)->size());
    payload.resize(payload.size() + 6, 0);  // the container's padding
    back = ParseBackupRecord(Shared(payload), fault);
    ASSERT_TRUE(back) << fault;
    ASSERT_TRUE(back->set);
    EXPECT_EQ(back->set->key, kKeyA);
    EXPECT_TRUE(std::ranges::equal(View(back->set->components.at(3)), Pattern(50, 7)));
}

TEST(BackupRecord, ValuesOutOfRangeRefuseTheWholeFile) {
    const auto good = SerializeBackupRecord(SampleRecord()).value();
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint16_t value;
        bool word;
        bool accepted;
    };
    const Case cases[] = {
        {"savedSettingB8 2", 83, 2, false, false},
        {"savedSetting54 3", 84, 3, true, false},
        {"setting9 2", 86, 2, false, false},
        {"setting10 2", 87, 2, false, false},
        {"setting11 4", 88, 4, true, false},
        {"setting12 3", 90, 3, true, false},
        {"setting13 2", 92, 2, true, false},
        {"savedSetting68 2", 94, 2, true, false},
        {"stage 700", 29, 700, true, false},
        {"stage 0", 29, 0, true, false},
        {"stage 550, written during an update", 29, 550, true, true},
        {"stage 1000", 29, 1000, true, true},
        {"setting11 3", 88, 3, true, true},
    };
    for (const auto& c : cases) {
        auto p = good;
        if (c.word) WriteU16(p, c.offset, c.value);
        else p[c.offset] = static_cast<std::uint8_t>(c.value);
        std::string fault;
        EXPECT_EQ(ParseBackupRecord(Shared(p), fault).has_value(), c.accepted) << c.what << ": " << fault;
    }
    std::string fault;
    EXPECT_FALSE(ParseBackupRecord(Shared(std::vector(good.begin(), good.end() - 1)), fault)) << "127 bytes";
}

TEST(BackupRecord, VersionTextsEndAfterTwentyFiveCharacters) {
    auto p = SerializeBackupRecord(SampleRecord()).value();
    p[56] = 'X';  // where the terminator of targetVersion belongs
    std::string fault;
    const auto back = ParseBackupRecord(Shared(p), fault);
    ASSERT_TRUE(back) << fault;
    EXPECT_EQ(std::string(back->info.targetVersion.data()), "0100200030000400005000063");
}

// Versions are compared and shown field by field: a record read from a damaged
// or crafted file with fewer than five whole fields is refused, not half used.
TEST(BackupRecord, VersionsThatAreNotFiveWholeFieldsRefuseTheRecord) {
    const std::string well = "0100200030000400005000063";
    struct Case {
        const char* what;
        std::string target, current;
        const char* faultyField;  // nullptr: accepted
    };
    const Case cases[] = {
        {"both well formed", well, well, nullptr},
        {"no target yet", "", well, nullptr},
        {"an empty current version", well, "", "currentVersion"},
        {"a current version of two fields", well, well.substr(0, 10), "currentVersion"},
        {"a current version one short", well, well.substr(0, 24), "currentVersion"},
        {"a target of one field", "00001", well, "targetVersion"},
        {"a target one short", well.substr(0, 24), well, "targetVersion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BackupRecord r = SampleRecord();
        r.info.targetVersion.fill('\0');
        r.info.currentVersion.fill('\0');
        std::copy(c.target.begin(), c.target.end(), r.info.targetVersion.begin());
        std::copy(c.current.begin(), c.current.end(), r.info.currentVersion.begin());
        const std::string fault = BackupInfoFault(r.info);
        if (c.faultyField == nullptr) EXPECT_EQ(fault, "");
        else EXPECT_NE(fault.find(c.faultyField), std::string::npos) << fault;

        // The same record as a file holds it.
        std::string parseFault;
        EXPECT_EQ(ParseBackupRecord(Shared(SerializeBackupRecord(r).value()), parseFault).has_value(),
                  c.faultyField == nullptr)
            << parseFault;
    }
    // In memory a text can fill all 26 bytes; such a record is not saved either.
    BackupRecord full = SampleRecord();
    full.info.currentVersion.fill('1');
    EXPECT_NE(BackupInfoFault(full.info).find("currentVersion"), std::string::npos);
}

TEST(BackupRecord, ABrokenSetBlockRefusesTheRecord) {
    BackupRecord r = SampleRecord();
    r.set = Set(kKeyA, {Component(3, Pattern(50, 7))});
    auto p = SerializeBackupRecord(r).value();
    WriteU32(p, 128 + kSetHeader + 18, 51);  // component length beyond its block
    std::string fault;
    EXPECT_FALSE(ParseBackupRecord(Shared(p), fault));
    EXPECT_NE(fault.find("backup record"), std::string::npos) << fault;
}

TEST(AddComponent, RefusesBadTypesEmptyDataAndDuplicates) {
    FirmwareSet s;
    const std::uint8_t byte = 7;
    ComponentDescriptor d;
    d.data = &byte;
    d.length = 1;
    EXPECT_EQ(AddComponent(s, 0, d), kPkgInvalid);
    EXPECT_EQ(AddComponent(s, 7, d), kPkgInvalid);
    EXPECT_EQ(AddComponent(s, 6, d), kStatusSuccess);
    EXPECT_EQ(AddComponent(s, 6, d), kPkgComponentPresent);
    ComponentDescriptor empty = d;
    empty.length = 0;
    EXPECT_EQ(AddComponent(s, 1, empty), kPkgInvalid);
    ComponentDescriptor null = d;
    null.data = nullptr;
    EXPECT_EQ(AddComponent(s, 1, null), kPkgInvalid);
    ASSERT_EQ(s.components.size(), 1u);
    EXPECT_NE(s.components.at(6).data.data, &byte);  // a copy, not the caller's bytes
}

TEST(ParsePayload, DispatchesOnTheContentKind) {
    std::vector<std::uint8_t> p(2048, 0);
    std::string fault;
    for (std::uint16_t kind : {0, 2, 17, 255, 257, 0xFFFF}) {
        WriteU16(p, 0, kind);
        EXPECT_FALSE(ParsePayload(Shared(p), fault)) << kind;
    }
    EXPECT_FALSE(ParsePayload(Shared({}), fault));
    WriteU16(p, 0, kKindSinglePackage);
    EXPECT_TRUE(ParsePayload(Shared(p), fault));  // a package without sets
}

}  // namespace
