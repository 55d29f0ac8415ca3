// check: good files of each kind, and a file corrupted or made hostile in each way the loader must refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "common/bytes.h"
#include "tools/vfwtool/vfwtool_testing.h"

namespace {

// Where the library puts the fields these tests patch.
constexpr std::size_t kPackageCount = 51;
constexpr std::size_t kPackageDirectory = 53;
constexpr std::size_t kPackageEntry = 37;  // key[26], offset u32, size u32, 3 zero bytes
constexpr std::size_t kPackageHeader = 2048;
constexpr std::size_t kSetDirectory = 53;  // type u16, offset u32, size u32
constexpr std::size_t kSetHeader = 256;
constexpr std::size_t kComponentLength = 18;
constexpr std::size_t kImageType = 2;
constexpr std::size_t kImageLength = 37;
constexpr std::size_t kBackupStage = 29;

constexpr char kKey[] = "0000100002000030000400005";

class CheckTest : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(CheckTest, GoodFilesAreNamedWithTheirKind) {
    struct Case {
        const char* name;
        Content content;
        const char* summary;
    };
    const Case cases[] = {
        {"one.pkg", SamplePackage({kKey}), "package, kind 16, 1 set"},
        {"two.pkg", SamplePackage({kKey, "0000200002000030000400005"}), "package, kind 32, 2 sets"},
        {"i.img", SampleImage(), "image, kind 1, type 3, 9 bytes"},
        {"with.bak", SampleBackup(true), "backup record, kind 256, stage 300, set 0000100002000030000400123"},
        {"without.bak", SampleBackup(false), "backup record, kind 256, stage 300, no set"},
    };
    for (const Case& c : cases) {
        const std::string path = dir_.File(c.name);
        WriteContainerFile(path, Payload(c.content));
        const RunResult r = RunTool({"check", path});
        EXPECT_EQ(r.code, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, path + ": " + c.summary + "\n");
        EXPECT_EQ(r.err, "");
    }
}

using Patch = std::function<void(std::vector<std::uint8_t>&)>;

struct Corruption {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* fault;  // part of the one stderr line
};

// A container of `content` whose payload was patched before it was encrypted.
std::function<void(const std::string&)> Patched(Content content, Patch patch) {
    return [content = std::move(content), patch = std::move(patch)](const std::string& path) {
        auto payload = Payload(content);
        patch(payload);
        WriteContainerFile(path, payload);
    };
}

// A good package file whose encrypted bytes were then changed.
std::function<void(const std::string&)> Damaged(Patch damage) {
    return [damage = std::move(damage)](const std::string& path) {
        WriteContainerFile(path, Payload(SamplePackage({kKey})));
        auto file = ReadFile(path);
        damage(file);
        WriteFile(path, file);
    };
}

std::function<void(const std::string&)> Raw(std::vector<std::uint8_t> bytes) {
    return [bytes = std::move(bytes)](const std::string& path) { WriteFile(path, bytes); };
}

// Patches a field of the first set's first component entry and block.
void PatchFirstSetEntry(std::vector<std::uint8_t>& p, std::size_t field, std::uint32_t value) {
    WriteU32(p, kPackageDirectory + field, value);
}

const Corruption kCorruptions[] = {
    {"flipped byte", Damaged([](auto& f) { f[100] ^= 0x01; }), "bad checksum"},
    {"last block cut off", Damaged([](auto& f) { f.resize(f.size() - 8); }), "bad checksum"},
    {"partial block", Damaged([](auto& f) { f.resize(f.size() - 3); }), "truncated:"},
    {"one byte", Raw({0x00}), "truncated:"},
    {"no file", [](const std::string&) {}, "cannot open"},
    {"a directory", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }, "cannot be read"},
    {"empty payload", Raw({0x00, 0x00}), "the payload is empty"},
    {"unknown kind", Patched(SamplePackage({kKey}), [](auto& p) { WriteU16(p, 0, 7); }), "content kind 7"},
    {"package header cut short", Patched(SamplePackage({kKey}), [](auto& p) { p.resize(1024); }),
     "shorter than its 2048-byte header"},
    {"more sets than the directory holds", Patched(SamplePackage({kKey}), [](auto& p) { WriteU16(p, kPackageCount, 54); }),
     "room for 53"},
    {"set beyond the payload", Patched(SamplePackage({kKey}), [](auto& p) { PatchFirstSetEntry(p, 26, 0x100000); }),
     "lies outside the payload"},
    {"set size wrapping around", Patched(SamplePackage({kKey}), [](auto& p) { PatchFirstSetEntry(p, 30, 0xFFFFFFFF); }),
     "lies outside the payload"},
    {"duplicate key",
     Patched(SamplePackage({kKey, "0000200002000030000400005"}),
             [](auto& p) {
                 std::copy_n(p.begin() + kPackageDirectory, 26, p.begin() + kPackageDirectory + kPackageEntry);
             }),
     "the key is already present"},
    {"set block without its magic", Patched(SamplePackage({kKey}), [](auto& p) { WriteU16(p, kPackageHeader, 17); }),
     "does not start with 16"},
    {"component beyond its set",
     Patched(SamplePackage({kKey}), [](auto& p) { WriteU32(p, kPackageHeader + kSetDirectory + 2, 0x7FFFFFFF); }),
     "lies outside the set"},
    {"component length disagreeing with its block",
     Patched(SamplePackage({kKey}),
             [](auto& p) {
                 const std::size_t block = kPackageHeader + kSetHeader;  // the first component
                 WriteU32(p, block + kComponentLength, ReadU32(p, block + kComponentLength) + 1);
             }),
     "has length"},
    {"image longer than its payload", Patched(SampleImage(), [](auto& p) { WriteU32(p, kImageLength, 10000); }),
     "truncated: the image claims 10000 bytes"},
    {"image of type 9", Patched(SampleImage(), [](auto& p) { WriteU16(p, kImageType, 9); }), "image component type 9"},
    {"backup record in no update stage", Patched(SampleBackup(false), [](auto& p) { WriteU16(p, kBackupStage, 7); }),
     "stage 7 is not an update stage"},
    // A fault text quotes the key; a line break in it must not split the message.
    {"line break in a faulty set's key",
     Patched(SamplePackage({kKey}),
             [](auto& p) {
                 p[kPackageDirectory + 3] = '\n';
                 PatchFirstSetEntry(p, 26, 0x100000);
             }),
     "package set entry 0 (000\\x0a"},
};

TEST_F(CheckTest, DamagedOrHostileFilesAreRefusedInOneLine) {
    for (const Corruption& c : kCorruptions) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.File(c.name);
        c.make(path);
        for (const char* command : {"check", "info"}) {
            const RunResult r = RunTool({command, path});
            EXPECT_EQ(r.code, 1) << command;
            EXPECT_EQ(r.out, "") << command;
            EXPECT_EQ(LineCount(r.err), 1u) << command << ": " << r.err;
            EXPECT_EQ(r.err.rfind(path + ": ", 0), 0u) << command << ": " << r.err;
            EXPECT_NE(r.err.find(c.fault), std::string::npos) << command << ": " << r.err;
        }
    }
}

}  // namespace
