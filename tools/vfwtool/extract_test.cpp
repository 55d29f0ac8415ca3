// extract and decrypt: the exact bytes out, written atomically, and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/bytes.h"
#include "tools/vfwtool/vfwtool_testing.h"

namespace {

constexpr char kKey[] = "0000100002000030000400005";
constexpr char kOtherKey[] = "0000200002000030000400005";
constexpr char kBackupKey[] = "0000100002000030000400123";  // stored form of SampleBackup's set key

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteContainerFile(pkg_, Payload(SamplePackage({kKey, kOtherKey})));
        WriteContainerFile(img_, Payload(SampleImage()));
        WriteContainerFile(bak_, Payload(SampleBackup(true)));
        WriteContainerFile(bareBak_, Payload(SampleBackup(false)));
    }

    TempDir dir_;
    const std::string pkg_ = dir_.File("p.pkg");
    const std::string img_ = dir_.File("i.img");
    const std::string bak_ = dir_.File("with.bak");
    const std::string bareBak_ = dir_.File("without.bak");
    const std::string out_ = dir_.File("out.bin");
};

TEST_F(ExtractTest, WritesTheComponentBytes) {
    struct Case {
        std::vector<std::string> args;  // after FILE
        std::string_view bytes;
    };
    const std::pair<std::string, Case> cases[] = {
        {pkg_, {{"--set", kOtherKey, "--type", "2"}, kFox}},
        {pkg_, {{"--set", kKey, "--type", "6"}, kDigits}},
        {img_, {{"--type", "3"}, kDigits}},
        {bak_, {{"--type", "4"}, kDigits}},
        {bak_, {{"--set", kBackupKey, "--type", "4"}, kDigits}},
    };
    for (const auto& [file, c] : cases) {
        SCOPED_TRACE(file + " " + c.args[c.args.size() - 1]);
        WriteFile(out_, Bytes("an older file that is replaced"));
        std::vector<std::string> args = {"extract", file, "-o", out_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunTool(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(out_), Bytes(c.bytes));
    }
    // Nothing is left beside the output but the output itself.
    EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"i.img", "out.bin", "p.pkg", "with.bak", "without.bak"}));
}

TEST_F(ExtractTest, RefusesWhatTheFileDoesNotHold) {
    struct Case {
        std::string file;
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {pkg_, {"--set", "0000300002000030000400005", "--type", "2"}, 1, "holds no set 0000300002000030000400005"},
        {pkg_, {"--set", kKey, "--type", "4"}, 1, "holds no component of type 4"},
        {pkg_, {"--type", "2"}, 2, "name the set with --set"},
        {img_, {"--type", "2"}, 1, "the image holds type 3, not 2"},
        {img_, {"--set", kKey, "--type", "3"}, 2, "leave out --set"},
        {bareBak_, {"--type", "4"}, 1, "the backup record holds no set"},
        {bak_, {"--set", kKey, "--type", "4"}, 1, "set is 0000100002000030000400123, not 0000100002000030000400005"},
        {bak_, {"--type", "1"}, 1, "holds no component of type 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = {"extract", c.file, "-o", out_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (c.code == 1) {
            EXPECT_EQ(r.err.rfind(c.file + ": ", 0), 0u) << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
}

TEST_F(ExtractTest, OutputThatCannotBeWrittenIsNamed) {
    const std::string out = dir_.File("missing-dir/out.bin");
    const RunResult r = RunTool({"extract", img_, "--type", "3", "-o", out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(LineCount(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind(out + ": ", 0), 0u) << r.err;
}

TEST_F(ExtractTest, DecryptGivesThePayloadStartingWithItsKind) {
    struct Case {
        std::string file;
        Content content;
        std::uint16_t kind;
    };
    const Case cases[] = {
        {pkg_, SamplePackage({kKey, kOtherKey}), 32}, {img_, SampleImage(), 1}, {bak_, SampleBackup(true), 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const RunResult r = RunTool({"decrypt", c.file, "-o", out_});
        ASSERT_EQ(r.code, 0) << r.err;
        const auto payload = ReadFile(out_);
        ASSERT_GE(payload.size(), 2u);
        EXPECT_EQ(ReadU16(payload, 0), c.kind);
        // The whole payload as the library serialized it, padded to whole 8-byte blocks.
        const auto expected = Payload(c.content);
        EXPECT_EQ(payload.size(), (expected.size() + 7) / 8 * 8);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), payload.begin()));
    }
}

TEST_F(ExtractTest, DecryptNeedsAValidChecksumButNotValidContent) {
    auto file = ReadFile(img_);
    file[10] ^= 0x40;
    WriteFile(img_, file);
    const RunResult bad = RunTool({"decrypt", img_, "-o", out_});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(LineCount(bad.err), 1u) << bad.err;
    EXPECT_NE(bad.err.find("bad checksum"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(out_));

    // An unknown kind does not load, but is what decrypt is for.
    auto payload = Payload(SampleImage());
    WriteU16(payload, 0, 7);
    WriteContainerFile(img_, payload);
    const RunResult unknown = RunTool({"decrypt", img_, "-o", out_});
    EXPECT_EQ(unknown.code, 0) << unknown.err;
    EXPECT_EQ(ReadU16(ReadFile(out_), 0), 7);
}

}  // namespace
