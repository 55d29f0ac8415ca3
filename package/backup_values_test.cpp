// The typed backup record: its one reader and its one editor over the library's record.
#include "package/backup_values.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "common/temp_dir_testing.h"

namespace {

// Every value but the components (whose data the record owns), for comparing.
auto Fields(const BackupValues& v) {
    return std::make_tuple(v.identity.model, v.identity.serial, v.targetVersion, v.currentVersion, v.stage,
                           v.loaderFlag, v.savedSettingB8, v.savedSetting54, v.setting9, v.setting10, v.setting11,
                           v.setting12, v.setting13, v.savedSetting68);
}

BackupValues Fresh() {
    BackupValues v;
    v.identity = {"QX2701", "SN000001"};
    v.currentVersion = "0010200201000030000400005";
    return v;
}

struct FieldEdit {
    const char* field;
    std::function<void(BackupValues&)> edit;
};

const FieldEdit kEveryField[] = {
    {"model, the whole field", [](BackupValues& v) { v.identity.model = "QX27-ABCDEFGHIJK"; }},
    {"serial shorter than its field", [](BackupValues& v) { v.identity.serial = "SN12"; }},
    {"targetVersion", [](BackupValues& v) { v.targetVersion = "0010300202000040000500026"; }},
    {"currentVersion", [](BackupValues& v) { v.currentVersion = "0010100200000030000400005"; }},
    {"stage", [](BackupValues& v) { v.stage = 550; }},
    {"loaderFlag", [](BackupValues& v) { v.loaderFlag = 1; }},
    {"savedSettingB8", [](BackupValues& v) { v.savedSettingB8 = 1; }},
    {"savedSetting54", [](BackupValues& v) { v.savedSetting54 = 2; }},
    {"setting9", [](BackupValues& v) { v.setting9 = 1; }},
    {"setting10", [](BackupValues& v) { v.setting10 = 1; }},
    {"setting11", [](BackupValues& v) { v.setting11 = 3; }},
    {"setting12", [](BackupValues& v) { v.setting12 = 2; }},
    {"setting13", [](BackupValues& v) { v.setting13 = 1; }},
    {"savedSetting68", [](BackupValues& v) { v.savedSetting68 = 1; }},
};

class BackupValuesTest : public ::testing::Test {
protected:
    void SetUp() override { PkgCloseAll(); }
    void TearDown() override { PkgCloseAll(); }

    // A new record, saved; the library holds one record at a time.
    PackageHandle Create(const BackupValues& values) {
        PkgCloseAll();
        BackupInfo info;
        EXPECT_EQ(ToBackupInfo(values, info), kStatusSuccess);
        PackageHandle handle = kNoPackageHandle;
        EXPECT_EQ(PkgCreateBackupRecord(&info, &handle), kStatusSuccess);
        EXPECT_EQ(PkgSaveFile(handle, path.c_str()), kStatusSuccess);
        return handle;
    }
    // The values the file holds, loaded as a later start loads them.
    BackupValues Saved() {
        PkgCloseAll();
        PackageHandle handle = kNoPackageHandle;
        EXPECT_EQ(PkgLoadFile(path.c_str(), &handle), kStatusSuccess);
        BackupValues values;
        EXPECT_EQ(PkgReadBackupValues(handle, values), kStatusSuccess);
        return values;
    }

    TempDir dir;
    const std::string path = dir.File(".backup");
};

TEST_F(BackupValuesTest, EveryFieldEditedIsSavedAndReadBackAsItWasSet) {
    for (const FieldEdit& e : kEveryField) {
        SCOPED_TRACE(e.field);
        BackupValues values = Fresh();
        const PackageHandle record = Create(values);
        ASSERT_EQ(PkgEditBackupRecord(record, path, values, e.edit), kStatusSuccess);
        BackupValues expected = Fresh();
        e.edit(expected);
        EXPECT_EQ(Fields(values), Fields(expected));
        BackupValues fromRecord;
        ASSERT_EQ(PkgReadBackupValues(record, fromRecord), kStatusSuccess);
        EXPECT_EQ(Fields(fromRecord), Fields(expected));
        EXPECT_EQ(Fields(Saved()), Fields(expected));
    }
}

// Cut to fit, a model name or serial number would name no monitor, and a
// version text would name other firmware: refused, and nothing changes.
TEST_F(BackupValuesTest, ATextThatDoesNotFitItsFieldIsRefusedNeverCut) {
    const FieldEdit tooLong[] = {
        {"model of 17 characters", [](BackupValues& v) { v.identity.model = "QX27-ABCDEFGHIJKL"; }},
        {"serial of 9 characters", [](BackupValues& v) { v.identity.serial = "SN0000012"; }},
        {"serial with a zero byte", [](BackupValues& v) { v.identity.serial = std::string("SN\0X", 4); }},
        {"version of 26 characters", [](BackupValues& v) { v.targetVersion = "00103002020000400005000260"; }},
    };
    for (const FieldEdit& e : tooLong) {
        SCOPED_TRACE(e.field);
        BackupValues values = Fresh();
        const PackageHandle record = Create(values);
        BackupInfo info;
        BackupValues edited = values;
        e.edit(edited);
        EXPECT_EQ(ToBackupInfo(edited, info), kPkgInvalid);
        EXPECT_EQ(PkgEditBackupRecord(record, path, values, e.edit), kPkgInvalid);
        EXPECT_EQ(Fields(values), Fields(Fresh()));
        EXPECT_EQ(Fields(Saved()), Fields(Fresh()));
    }
}

// Memory, record and file never disagree: what cannot be saved is not kept anywhere.
TEST_F(BackupValuesTest, AnEditThatCannotBeSavedLeavesValuesRecordAndFileAsTheyWere) {
    const struct {
        const char* what;
        std::string path;
        std::function<void(BackupValues&)> edit;
    } cases[] = {
        {"a folder that does not exist", dir.File("gone/.backup"), [](BackupValues& v) { v.stage = 300; }},
        {"a stage the record does not know", path, [](BackupValues& v) { v.stage = 123; }},
        {"a setting above its maximum", path, [](BackupValues& v) { v.setting11 = 4; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BackupValues values = Fresh();
        const PackageHandle record = Create(values);
        EXPECT_TRUE(IsFailure(PkgEditBackupRecord(record, c.path, values, c.edit)));
        EXPECT_EQ(Fields(values), Fields(Fresh()));
        BackupValues fromRecord;
        ASSERT_EQ(PkgReadBackupValues(record, fromRecord), kStatusSuccess);
        EXPECT_EQ(Fields(fromRecord), Fields(Fresh()));
        EXPECT_EQ(Fields(Saved()), Fields(Fresh()));
    }
}

TEST_F(BackupValuesTest, ReadingANonRecordOrNoHandleFails) {
    BackupValues values = Fresh();
    EXPECT_TRUE(IsFailure(PkgReadBackupValues(kNoPackageHandle, values)));
    EXPECT_EQ(Fields(values), Fields(Fresh()));  // untouched
}

}  // namespace
