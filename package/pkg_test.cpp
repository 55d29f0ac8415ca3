#include "package/pkg.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "common/bytes.h"
#include "package/package_testing.h"

namespace {

using namespace testing_support;

const std::string kVersion = "0100200030000400005000063";
const std::string kKeyA = "0001000002000030000400005";
const std::string kKeyB = "0002000002000030000400005";

class PkgTest : public ::testing::Test {
protected:
    void SetUp() override { PkgCloseAll(); }
    void TearDown() override { PkgCloseAll(); }

    PackageHandle Load(const std::string& path) {
        PackageHandle h{};
        EXPECT_EQ(PkgLoadFile(path.c_str(), &h), kStatusSuccess) << path;
        return h;
    }
    PackageHandle LoadPackage(const FirmwarePackage& p, const std::string& name = "p.vfw") {
        const std::string path = dir.File(name);
        WritePayload(path, PackagePayload(p));
        return Load(path);
    }
    PackageHandle CreateRecord(const BackupInfo& info) {
        PackageHandle h{};
        EXPECT_EQ(PkgCreateBackupRecord(&info, &h), kStatusSuccess);
        return h;
    }
    template <std::size_t N>
    std::array<std::uint8_t, N> Get(PackageHandle h, std::uint32_t id) {
        std::array<std::uint8_t, N> out{};
        EXPECT_EQ(PkgGetProperty(h, id, out.data(), out.size()), kStatusSuccess) << "id " << id;
        return out;
    }
    ComponentDescriptor Descriptor(PackageHandle h, std::uint32_t id) {
        ComponentDescriptor d;
        EXPECT_EQ(PkgGetProperty(h, id, &d, sizeof d), kStatusSuccess) << "id " << id;
        return d;
    }
    template <typename T>
    Status Set(PackageHandle h, std::uint32_t id, const T& value) {
        return PkgSetProperty(h, id, &value, sizeof value);
    }

    TempDir dir;
};

BackupInfo Info(const std::string& model = "MONITOR-1", std::uint32_t stage = 100) {
    BackupInfo i;
    std::copy(model.begin(), model.end(), i.modelName.begin());
    const std::string serial = "A1B2C3D4", current = "0100200030000400005000010";
    std::copy(serial.begin(), serial.end(), i.serialNumber.begin());
    std::copy(current.begin(), current.end(), i.currentVersion.begin());
    i.stage = stage;
    i.loaderFlag = 1;
    i.setting11 = 3;
    return i;
}

FirmwarePackage SingleSet(const std::string& model = "MONITOR-1") {
    return Package(model, kVersion,
                   {Set(kKeyA, {Component(2, Pattern(100, 1), 30, 5), Component(4, Pattern(20, 2), 7, 0)})});
}

FirmwarePackage TwoSets(const std::string& model = "MONITOR-1") {
    return Package(model, kVersion,
                   {Set(kKeyA, {Component(2, Pattern(100, 1), 30, 5)}), Set(kKeyB, {Component(3, Pattern(9, 3), 1, 1)})});
}

TEST_F(PkgTest, MissingArgumentsAndInvalidHandles) {
    PackageHandle h{};
    std::uint8_t buffer[32];
    EXPECT_EQ(PkgLoadFile(nullptr, &h), kPkgInvalid);
    EXPECT_EQ(PkgLoadFile(dir.File("x").c_str(), nullptr), kPkgInvalid);
    EXPECT_EQ(PkgCreateBackupRecord(nullptr, &h), kPkgInvalid);
    const BackupInfo info = Info();
    EXPECT_EQ(PkgCreateBackupRecord(&info, nullptr), kPkgInvalid);
    EXPECT_EQ(PkgGetProperty(kNoPackageHandle, 0, buffer, sizeof buffer), kPkgInvalidHandle);
    EXPECT_EQ(PkgGetProperty(PackageHandle{12345}, 0, buffer, sizeof buffer), kPkgInvalidHandle);
    EXPECT_EQ(PkgSaveFile(kNoPackageHandle, dir.File("y").c_str()), kPkgInvalidHandle);

    const PackageHandle p = LoadPackage(SingleSet());
    EXPECT_EQ(PkgGetProperty(p, 0, nullptr, 2), kPkgInvalid);
    EXPECT_EQ(PkgSetProperty(p, 0, nullptr, 2), kPkgInvalid);
    EXPECT_EQ(PkgSelectSet(p, nullptr, &h), kPkgInvalid);
    EXPECT_EQ(PkgAttachSet(p, nullptr), kPkgInvalid);
    EXPECT_EQ(PkgHasMatchingSet(p, nullptr), 0);
}

TEST_F(PkgTest, HandlesDieWithCloseAll) {
    const PackageHandle p = LoadPackage(SingleSet());
    const PackageHandle r = CreateRecord(Info());
    PkgCloseAll();
    std::uint8_t kind[2];
    EXPECT_EQ(PkgGetProperty(p, 0, kind, 2), kPkgInvalidHandle);
    EXPECT_EQ(PkgGetProperty(r, 0, kind, 2), kPkgInvalidHandle);
    // New objects get new handles: an old one never designates them.
    const PackageHandle again = LoadPackage(SingleSet());
    EXPECT_NE(again, p);
    EXPECT_EQ(PkgGetProperty(p, 0, kind, 2), kPkgInvalidHandle);
}

TEST_F(PkgTest, LoadingTheSameFileTwiceGivesTwoObjects) {
    const PackageHandle a = LoadPackage(SingleSet());
    const PackageHandle b = Load(dir.File("p.vfw"));
    EXPECT_NE(a, b);
    EXPECT_NE(Descriptor(a, 16).data, Descriptor(b, 16).data);
}

TEST_F(PkgTest, LoadReportsTheContainerAndContentFaults) {
    PackageHandle h{};
    EXPECT_EQ(PkgLoadFile(dir.File("missing.vfw").c_str(), &h), kPkgCannotOpen);
    auto payload = PackagePayload(SingleSet());
    WriteU16(payload, 0, 2);  // content kind 2
    WritePayload(dir.File("kind2.vfw"), payload);
    EXPECT_EQ(PkgLoadFile(dir.File("kind2.vfw").c_str(), &h), kPkgInvalid);
    WritePayload(dir.File("good.vfw"), PackagePayload(SingleSet()));
    auto bytes = ReadBytes(dir.File("good.vfw"));
    bytes[100] ^= 0x40;
    WriteBytes(dir.File("bad.vfw"), bytes);
    EXPECT_EQ(PkgLoadFile(dir.File("bad.vfw").c_str(), &h), kPkgBadChecksum);
    bytes.resize(bytes.size() - 3);
    WriteBytes(dir.File("short.vfw"), bytes);
    EXPECT_EQ(PkgLoadFile(dir.File("short.vfw").c_str(), &h), kPkgBadChecksum);
    WriteBytes(dir.File("empty.vfw"), {0, 0});
    EXPECT_EQ(PkgLoadFile(dir.File("empty.vfw").c_str(), &h), kPkgInvalid);
    EXPECT_EQ(h, kNoPackageHandle);  // no failure hands out a handle
}

TEST_F(PkgTest, AFileTooLargeForMemoryIsRefusedNotFatal) {
    // A sparse file of 1 TiB claims a payload no machine here can hold.
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    overcommit >> mode;
    if (mode == 1) GTEST_SKIP() << "the kernel grants any allocation; the load would be killed instead";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer stops the process on such an allocation instead of failing it";
#endif
    const std::string path = dir.File("huge.vfw");
    WriteBytes(path, {});
    ASSERT_EQ(truncate(path.c_str(), (std::int64_t{1} << 40) + 2), 0);
    PackageHandle h{};
    EXPECT_EQ(PkgLoadFile(path.c_str(), &h), kPkgCannotOpen);
    EXPECT_EQ(h, kNoPackageHandle);
}

TEST_F(PkgTest, PackageProperties) {
    const PackageHandle p = LoadPackage(SingleSet("MON*"));
    EXPECT_EQ(ReadU16(Get<2>(p, kPropKind), 0), 16);
    const auto model = Get<16>(p, kPropModelName);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model.data())), "MON*");
    const auto version = Get<25>(p, kPropVersion);
    EXPECT_EQ(std::string(version.begin(), version.end()), kVersion);
    const auto key = Get<25>(p, kPropKeyOrCurrent);
    EXPECT_EQ(std::string(key.begin(), key.end()), kKeyA);

    const ComponentDescriptor d = Descriptor(p, 16);  // type 2
    EXPECT_EQ(d.writeSeconds, 30);
    EXPECT_EQ(d.attribute, 5);
    EXPECT_EQ(d.reserved, 0);
    EXPECT_EQ(d.length, 100u);
    EXPECT_EQ(std::vector(d.data, d.data + d.length), Pattern(100, 1));
    EXPECT_EQ(Descriptor(p, 18).length, 20u);  // type 4

    std::uint8_t buffer[64];
    for (std::uint32_t absent : {4u, 5u, 6u, 13u, 14u, 15u, 17u, 19u, 20u, 21u, 22u, 1000u})
        EXPECT_EQ(PkgGetProperty(p, absent, buffer, sizeof buffer), kPkgPropertyAbsent) << absent;
    EXPECT_EQ(PkgGetProperty(p, 16, buffer, sizeof(ComponentDescriptor) - 1), kPkgBufferTooSmall);
}

TEST_F(PkgTest, VersionPropertyNeedsTwentyFiveBytesAndCopiesNoMore) {
    const PackageHandle p = LoadPackage(SingleSet());
    std::array<std::uint8_t, 26> buffer;
    buffer.fill(0xEE);
    EXPECT_EQ(PkgGetProperty(p, kPropVersion, buffer.data(), 24), kPkgBufferTooSmall);
    EXPECT_EQ(buffer[0], 0xEE);  // nothing copied
    EXPECT_EQ(PkgGetProperty(p, kPropVersion, buffer.data(), 26), kStatusSuccess);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 25), kVersion);
    EXPECT_EQ(buffer[25], 0xEE);
}

TEST_F(PkgTest, MultiSetPackageOffersOnlyItsHeader) {
    const PackageHandle p = LoadPackage(TwoSets());
    EXPECT_EQ(ReadU16(Get<2>(p, kPropKind), 0), 32);
    std::uint8_t buffer[64];
    for (std::uint32_t absent : {3u, 15u, 16u, 17u})
        EXPECT_EQ(PkgGetProperty(p, absent, buffer, sizeof buffer), kPkgPropertyAbsent) << absent;
}

TEST_F(PkgTest, ImageProperties) {
    FirmwareImage img;
    img.modelName[0] = 'M';
    img.versionField = "00063";
    img.component = Component(5, Pattern(12, 1), 4, 2);
    const auto payload = SerializeImage(img).value();
    WritePayload(dir.File("i.vfw"), payload);
    const PackageHandle h = Load(dir.File("i.vfw"));
    EXPECT_EQ(ReadU16(Get<2>(h, kPropKind), 0), 1);
    EXPECT_EQ(ReadU16(Get<2>(h, kPropComponentType), 0), 5);
    const auto field = Get<5>(h, kPropVersion);
    EXPECT_EQ(std::string(field.begin(), field.end()), "00063");
    EXPECT_EQ(Descriptor(h, 19).length, 12u);
    std::uint8_t buffer[64];
    EXPECT_EQ(PkgGetProperty(h, 18, buffer, sizeof buffer), kPkgPropertyAbsent);
    EXPECT_EQ(PkgGetProperty(h, 3, buffer, sizeof buffer), kPkgPropertyAbsent);
    EXPECT_EQ(PkgSetProperty(h, 14, buffer, 2), kPkgPropertyAbsent);  // images are read-only
    EXPECT_EQ(PkgSaveFile(h, dir.File("i2.vfw").c_str()), kStatusSuccess);
    EXPECT_EQ(ReadPayload(dir.File("i2.vfw")), ReadPayload(dir.File("i.vfw")));
}

TEST_F(PkgTest, MatchingAndSelectingASet) {
    const PackageHandle single = LoadPackage(SingleSet(), "one.vfw");
    const PackageHandle multi = LoadPackage(TwoSets(), "two.vfw");
    EXPECT_EQ(PkgHasMatchingSet(single, kKeyA.c_str()), 1);
    EXPECT_EQ(PkgHasMatchingSet(single, kKeyB.c_str()), 0);
    EXPECT_EQ(PkgHasMatchingSet(multi, kKeyA.c_str()), 0);  // kind 32
    EXPECT_EQ(PkgHasMatchingSet(PackageHandle{999}, kKeyA.c_str()), 0);

    PackageHandle selected{};
    EXPECT_EQ(PkgSelectSet(single, kKeyA.c_str(), &selected), kPkgWrongKind);
    EXPECT_EQ(PkgSelectSet(PackageHandle{999}, kKeyA.c_str(), &selected), kPkgInvalidHandle);
    EXPECT_EQ(PkgSelectSet(multi, "0009900002000030000400005", &selected), kPkgNoMatchingSet);
    ASSERT_EQ(PkgSelectSet(multi, kKeyB.c_str(), &selected), kStatusSuccess);
    EXPECT_EQ(ReadU16(Get<2>(selected, kPropKind), 0), 16);
    const auto key = Get<25>(selected, kPropKeyOrCurrent);
    EXPECT_EQ(std::string(key.begin(), key.end()), kKeyB);
    const auto version = Get<25>(selected, kPropVersion);
    EXPECT_EQ(std::string(version.begin(), version.end()), kVersion);
    EXPECT_EQ(Get<16>(selected, kPropModelName), Get<16>(multi, kPropModelName));
    const ComponentDescriptor d = Descriptor(selected, 17);  // type 3
    EXPECT_EQ(d.length, 9u);
    EXPECT_EQ(std::vector(d.data, d.data + d.length), Pattern(9, 3));
    EXPECT_EQ(ReadU16(Get<2>(multi, kPropKind), 0), 32);  // the source stays loaded
    EXPECT_EQ(PkgHasMatchingSet(selected, kKeyB.c_str()), 1);

    // The selected package saves as a kind-16 file with only that set.
    ASSERT_EQ(PkgSaveFile(selected, dir.File("sel.vfw").c_str()), kStatusSuccess);
    const PackageHandle reloaded = Load(dir.File("sel.vfw"));
    EXPECT_EQ(ReadU16(Get<2>(reloaded, kPropKind), 0), 16);
    EXPECT_EQ(Descriptor(reloaded, 17).length, 9u);
}

TEST_F(PkgTest, SelectSetRefusesAShortVersionAndAnEmptySet) {
    FirmwarePackage shortVersion = TwoSets();
    shortVersion.version = "0100";
    const PackageHandle a = LoadPackage(shortVersion, "a.vfw");
    PackageHandle selected{};
    EXPECT_EQ(PkgSelectSet(a, kKeyA.c_str(), &selected), kPkgInvalid);

    FirmwarePackage emptySet = TwoSets();
    emptySet.sets.at(kKeyA).components.clear();
    const PackageHandle b = LoadPackage(emptySet, "b.vfw");
    EXPECT_EQ(PkgSelectSet(b, kKeyA.c_str(), &selected), kPkgNoComponentToCopy);
    EXPECT_EQ(selected, kNoPackageHandle);
}

TEST_F(PkgTest, OneBackupRecordAtATime) {
    const PackageHandle r = CreateRecord(Info());
    ASSERT_EQ(PkgSaveFile(r, dir.File(".backup").c_str()), kStatusSuccess);
    PackageHandle h{};
    const BackupInfo info = Info("OTHER");
    EXPECT_EQ(PkgCreateBackupRecord(&info, &h), kPkgRecordExists);
    EXPECT_EQ(PkgLoadFile(dir.File(".backup").c_str(), &h), kPkgRecordExists);
    const auto model = Get<17>(r, kPropModelName);  // the existing record is untouched
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model.data())), "MONITOR-1");
    PkgCloseAll();
    EXPECT_EQ(PkgLoadFile(dir.File(".backup").c_str(), &h), kStatusSuccess);
}

TEST_F(PkgTest, CreateRefusesValuesOutOfRange) {
    struct Case {
        const char* what;
        std::function<void(BackupInfo&)> change;
    };
    const Case cases[] = {
        {"stage 150", [](BackupInfo& i) { i.stage = 150; }},
        {"savedSettingB8 2", [](BackupInfo& i) { i.savedSettingB8 = 2; }},
        {"setting9 0x100", [](BackupInfo& i) { i.setting9 = 0x100; }},
        {"savedSetting54 3", [](BackupInfo& i) { i.savedSetting54 = 3; }},
        {"setting12 3", [](BackupInfo& i) { i.setting12 = 3; }},
        {"savedSetting68 2", [](BackupInfo& i) { i.savedSetting68 = 2; }},
    };
    for (const auto& c : cases) {
        BackupInfo info = Info();
        c.change(info);
        PackageHandle h{};
        EXPECT_EQ(PkgCreateBackupRecord(&info, &h), kPkgInvalid) << c.what;
    }
    BackupInfo high54 = Info();
    high54.savedSetting54 = 0x00070002;  // only the low 16 bits are the setting
    PackageHandle h{};
    EXPECT_EQ(PkgCreateBackupRecord(&high54, &h), kStatusSuccess);
}

TEST_F(PkgTest, BackupFileRoundTripWithEveryProperty) {
    const PackageHandle r = CreateRecord(Info());
    const std::uint32_t stage = 550;
    EXPECT_EQ(Set(r, kPropStage, stage), kStatusSuccess);
    const std::uint8_t one = 1;
    const std::uint16_t two = 2, three = 3;
    EXPECT_EQ(Set(r, kPropSavedSettingB8, one), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSavedSetting54, two), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSetting9, one), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSetting10, one), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSetting11, three), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSetting12, two), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSetting13, one), kStatusSuccess);
    EXPECT_EQ(Set(r, kPropSavedSetting68, std::uint16_t{1}), kStatusSuccess);
    const char serial[9] = "ZZ998877";
    EXPECT_EQ(PkgSetProperty(r, kPropSerialNumber, serial, sizeof serial), kStatusSuccess);
    ASSERT_EQ(PkgSaveFile(r, dir.File(".backup").c_str()), kStatusSuccess);
    EXPECT_EQ(ReadPayload(dir.File(".backup")).size(), 128u);

    PkgCloseAll();
    const PackageHandle back = Load(dir.File(".backup"));
    EXPECT_EQ(ReadU32(Get<4>(back, kPropStage), 0), 550u);
    EXPECT_EQ(Get<1>(back, kPropSavedSettingB8)[0], 1);
    EXPECT_EQ(ReadU16(Get<2>(back, kPropSavedSetting54), 0), 2);
    EXPECT_EQ(Get<1>(back, kPropSetting9)[0], 1);
    EXPECT_EQ(Get<1>(back, kPropSetting10)[0], 1);
    EXPECT_EQ(ReadU16(Get<2>(back, kPropSetting11), 0), 3);
    EXPECT_EQ(ReadU16(Get<2>(back, kPropSetting12), 0), 2);
    EXPECT_EQ(ReadU16(Get<2>(back, kPropSetting13), 0), 1);
    EXPECT_EQ(ReadU16(Get<2>(back, kPropSavedSetting68), 0), 1);
    EXPECT_EQ(Get<1>(back, kPropLoaderFlag)[0], 1);
    const auto s = Get<9>(back, kPropSerialNumber);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.data())), "ZZ998877");
    const auto current = Get<26>(back, kPropKeyOrCurrent);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(current.data())), "0100200030000400005000010");
    EXPECT_EQ(ReadU16(Get<2>(back, kPropKind), 0), 256);
}

TEST_F(PkgTest, SetPropertyTakesAtMostEachFieldsBytes) {
    const PackageHandle r = CreateRecord(Info());
    const char longName[20] = "ABCDEFGHIJKLMNOPQRS";
    EXPECT_EQ(PkgSetProperty(r, kPropModelName, longName, sizeof longName), kStatusSuccess);
    const auto model = Get<17>(r, kPropModelName);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model.data())), "ABCDEFGHIJKLMNOP");  // terminator kept

    // A short buffer replaces only the start of a field.
    const char two[2] = {'9', '9'};
    EXPECT_EQ(PkgSetProperty(r, kPropKeyOrCurrent, two, sizeof two), kStatusSuccess);
    const auto current = Get<26>(r, kPropKeyOrCurrent);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(current.data())), "9900200030000400005000010");

    std::uint8_t none = 0;
    EXPECT_EQ(PkgSetProperty(r, kPropLoaderFlag, &none, 0), kPkgBufferTooSmall);  // takes exactly 1 byte
    EXPECT_EQ(PkgSetProperty(r, kPropKind, &none, 1), kPkgBufferTooSmall);        // takes exactly 2 bytes
    EXPECT_EQ(Set(r, kPropKind, std::uint16_t{1}), kPkgInvalid);  // a record stays a record
    EXPECT_EQ(Set(r, kPropKind, std::uint16_t{256}), kStatusSuccess);
    for (std::uint32_t absent : {14u, 15u, 20u, 22u})
        EXPECT_EQ(PkgSetProperty(r, absent, &none, 1), kPkgPropertyAbsent) << absent;
}

TEST_F(PkgTest, AnOutOfRangeRecordIsNotSavedOverAGoodFile) {
    const PackageHandle r = CreateRecord(Info());
    const std::string path = dir.File(".backup");
    ASSERT_EQ(PkgSaveFile(r, path.c_str()), kStatusSuccess);
    const auto before = ReadBytes(path);
    EXPECT_EQ(Set(r, kPropStage, std::uint32_t{70000}), kStatusSuccess);  // setting does not check ranges
    EXPECT_EQ(PkgSaveFile(r, path.c_str()), kPkgInvalid);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Set(r, kPropStage, std::uint32_t{200}), kStatusSuccess);
    EXPECT_EQ(PkgSaveFile(r, path.c_str()), kStatusSuccess);
}

TEST_F(PkgTest, AttachSetChecksTheModelName) {
    struct Case {
        std::string packageModel, recordModel;
        Status expected;
    };
    const Case cases[] = {
        {"AB*", "ABC", kStatusSuccess},
        {"AB*", "AB", kStatusSuccess},
        {"AB*", "A", kPkgModelMismatch},
        {"AB*", "XBC", kPkgModelMismatch},
        {"*", "ANYTHING", kStatusSuccess},
        {"*XYZ", "", kStatusSuccess},
        {"MONITOR-1", "MONITOR-1", kStatusSuccess},
        {"MONITOR-1", "MONITOR-12", kPkgModelMismatch},
    };
    for (const auto& c : cases) {
        PkgCloseAll();
        const PackageHandle p = LoadPackage(SingleSet(c.packageModel));
        PackageHandle r = CreateRecord(Info(c.recordModel));
        EXPECT_EQ(PkgAttachSet(p, &r), c.expected) << c.packageModel << " / " << c.recordModel;
    }
}

TEST_F(PkgTest, AttachSetCopiesTheSetIntoTheBackupFile) {
    const PackageHandle p = LoadPackage(SingleSet());
    PackageHandle r = CreateRecord(Info());
    const std::string path = dir.File(".backup");
    ASSERT_EQ(PkgSaveFile(r, path.c_str()), kStatusSuccess);
    EXPECT_EQ(ReadPayload(path).size(), 128u);

    std::uint8_t buffer[64];
    EXPECT_EQ(PkgGetProperty(r, 16, buffer, sizeof buffer), kPkgPropertyAbsent);
    ASSERT_EQ(PkgAttachSet(p, &r), kStatusSuccess);
    const auto target = Get<26>(r, kPropVersion);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.data())), kVersion);
    const ComponentDescriptor d = Descriptor(r, 16);
    EXPECT_EQ(d.length, 100u);
    EXPECT_NE(d.data, Descriptor(p, 16).data);  // the record's own copy
    EXPECT_EQ(std::vector(d.data, d.data + d.length), Pattern(100, 1));

    ASSERT_EQ(PkgSaveFile(r, path.c_str()), kStatusSuccess);
    const std::size_t setBlock = 256 + (128 + 100) + (128 + 20);
    EXPECT_EQ(ReadPayload(path).size(), (128 + setBlock + 7) / 8 * 8);

    PkgCloseAll();
    const PackageHandle back = Load(path);
    EXPECT_EQ(Descriptor(back, 18).length, 20u);
    EXPECT_EQ(Descriptor(back, 16).writeSeconds, 30);
}

TEST_F(PkgTest, AttachSetRefusals) {
    const PackageHandle single = LoadPackage(SingleSet(), "s.vfw");
    const PackageHandle multi = LoadPackage(TwoSets(), "m.vfw");
    PackageHandle r = CreateRecord(Info());
    EXPECT_EQ(PkgAttachSet(multi, &r), kPkgWrongKind);
    EXPECT_EQ(PkgAttachSet(PackageHandle{4242}, &r), kPkgInvalidHandle);
    PackageHandle notTheRecord = single;
    EXPECT_EQ(PkgAttachSet(single, &notTheRecord), kPkgInvalid);

    // A package without a set: the version is stored, then the call fails.
    const PackageHandle empty = LoadPackage(Package("MONITOR-1", "0200200030000400005000063", {}), "e.vfw");
    EXPECT_EQ(PkgAttachSet(empty, &r), kPkgInvalid);
    const auto target = Get<26>(r, kPropVersion);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.data())), "0200200030000400005000063");
}

TEST_F(PkgTest, ReplacingAnAttachedComponent) {
    const PackageHandle p = LoadPackage(SingleSet());
    PackageHandle r = CreateRecord(Info());
    ASSERT_EQ(PkgAttachSet(p, &r), kStatusSuccess);

    const auto bytes = Pattern(33, 9);
    ComponentDescriptor d;
    d.writeSeconds = 99;
    d.attribute = 3;
    d.data = bytes.data();
    d.length = static_cast<std::uint32_t>(bytes.size());
    EXPECT_EQ(PkgSetProperty(r, 16, &d, sizeof d), kStatusSuccess);
    EXPECT_EQ(PkgSetProperty(r, 16, &d, sizeof d - 1), kPkgBufferTooSmall);
    EXPECT_EQ(PkgSetProperty(r, 17, &d, sizeof d), kPkgPropertyAbsent);  // no type 3 in the set
    const ComponentDescriptor back = Descriptor(r, 16);
    EXPECT_EQ(back.writeSeconds, 99);
    EXPECT_EQ(back.attribute, 3);
    EXPECT_NE(back.data, bytes.data());
    EXPECT_EQ(std::vector(back.data, back.data + back.length), bytes);

    ComponentDescriptor empty = d;
    empty.length = 0;
    EXPECT_EQ(PkgSetProperty(r, 16, &empty, sizeof empty), kStatusSuccess);
    EXPECT_EQ(Descriptor(r, 16).length, 33u);  // nothing changed
}

}  // namespace
