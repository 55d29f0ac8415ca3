// create / image -> info round trips, and info of backup records and hostile files.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/vfwtool/vfwtool_testing.h"

namespace {

constexpr char kVersion[] = "0000100002000030000400123";

std::string ComponentJson(int type, const char* id, std::size_t length, int seconds, int attribute, const char* crc) {
    return "{\"type\":" + std::to_string(type) + ",\"id\":\"" + id + "\",\"length\":" + std::to_string(length) +
           ",\"writeSeconds\":" + std::to_string(seconds) + ",\"attribute\":" + std::to_string(attribute) +
           ",\"crc32\":\"" + crc + "\"}";
}

// The type 2 and type 6 components SamplePackage puts in every set, and `create` below too.
const std::string kSampleComponents =
    ComponentJson(2, "PRG000", kFox.size(), 30, 7, "414fa339") + "," + ComponentJson(6, "", kDigits.size(), 0, 0, "cbf43926");

std::string SetJson(const std::string& key, const std::string& components) {
    return "{\"key\":\"" + key + "\",\"components\":[" + components + "]}";
}

class InfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(fox_, Bytes(kFox));
        WriteFile(digits_, Bytes(kDigits));
    }

    // `create` arguments for one set holding both sample components, type 6 given first.
    std::vector<std::string> SetArgs(const std::string& key) const {
        return {"--set", key, "--component", "6=" + digits_, "--component", "2=" + fox_ + ":30:7"};
    }

    std::string Info(const std::string& path) {
        const RunResult r = RunTool({"info", path, "--json"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    TempDir dir_;
    const std::string fox_ = dir_.File("fox.bin");
    const std::string digits_ = dir_.File("digits.bin");
};

TEST_F(InfoTest, CreatedPackageReadsBackAsGiven) {
    // 99999, the largest last field, changes most in the conversion to memory form and back.
    const std::string key = "0000100002000030000499999";
    std::vector<std::string> args = {"create", "-o", dir_.File("p.pkg"), "--model", "MON27", "--version", kVersion};
    for (const auto& a : SetArgs(key)) args.push_back(a);
    const RunResult created = RunTool(args);
    ASSERT_EQ(created.code, 0) << created.err;
    EXPECT_EQ(created.err, "");

    EXPECT_EQ(Info(dir_.File("p.pkg")), std::string("{\"kind\":16,\"model\":\"MON27\",\"version\":\"") + kVersion +
                                            "\",\"sets\":[" + SetJson(key, kSampleComponents) + "]}\n");
}

TEST_F(InfoTest, SeveralSetsMakeKind32InKeyOrder) {
    const std::string low = "0000100002000030000400005", high = "0000900002000030000400010";
    std::vector<std::string> args = {"create", "-o", dir_.File("p.pkg"), "--model", "MON27", "--version", kVersion};
    for (const auto& a : SetArgs(high)) args.push_back(a);
    args.insert(args.end(), {"--set", low, "--component", "1=" + digits_ + ":65535:255"});
    const RunResult created = RunTool(args);
    ASSERT_EQ(created.code, 0) << created.err;

    const std::string lowSet = SetJson(low, ComponentJson(1, "AIC653", kDigits.size(), 65535, 255, "cbf43926"));
    EXPECT_EQ(Info(dir_.File("p.pkg")), std::string("{\"kind\":32,\"model\":\"MON27\",\"version\":\"") + kVersion +
                                            "\",\"sets\":[" + lowSet + "," + SetJson(high, kSampleComponents) + "]}\n");
}

TEST_F(InfoTest, CreatedImageReadsBackAsGiven) {
    struct Case {
        const char* type;
        const char* id;
        const char* field;  // type 5 holds it converted in memory; the others as given
    };
    for (const Case& c : {Case{"5", "AIC904", "00123"}, Case{"5", "AIC904", "99999"}, Case{"2", "PRG000", "00123"}}) {
        SCOPED_TRACE(std::string(c.type) + " " + c.field);
        const RunResult created = RunTool({"image", "-o", dir_.File("i.img"), "--model", "M", "--type", c.type, "--file",
                                       digits_, "--version-field", c.field, "--seconds", "9", "--attribute", "200"});
        ASSERT_EQ(created.code, 0) << created.err;
        EXPECT_EQ(Info(dir_.File("i.img")), std::string("{\"kind\":1,\"type\":") + c.type +
                                                ",\"model\":\"M\",\"versionField\":\"" + c.field +
                                                "\",\"writeSeconds\":9,\"attribute\":200,\"length\":9,"
                                                "\"crc32\":\"cbf43926\"}\n");
    }
}

TEST_F(InfoTest, ImageDefaultsAreZero) {
    const RunResult created =
        RunTool({"image", "-o", dir_.File("i.img"), "--model", "M", "--type", "6", "--file", digits_});
    ASSERT_EQ(created.code, 0) << created.err;
    EXPECT_EQ(Info(dir_.File("i.img")), "{\"kind\":1,\"type\":6,\"model\":\"M\",\"versionField\":\"00000\","
                                        "\"writeSeconds\":0,\"attribute\":0,\"length\":9,\"crc32\":\"cbf43926\"}\n");
}

TEST_F(InfoTest, BackupRecordShowsEveryValue) {
    // Model and serial fill their fields: the texts end at the field, not at a terminator.
    const std::string values =
        "{\"kind\":256,\"loaderFlag\":1,\"model\":\"ABCDEFGHIJKLMNOP\",\"serial\":\"SN1234567\",\"stage\":300,"
        "\"targetVersion\":\"0000100002000030000400123\",\"currentVersion\":\"0000100002000030000400005\","
        "\"savedSettingB8\":1,\"savedSetting54\":2,\"setting9\":1,\"setting10\":0,\"setting11\":3,\"setting12\":2,"
        "\"setting13\":1,\"savedSetting68\":1,\"set\":";
    WriteContainerFile(dir_.File("with.bak"), Payload(SampleBackup(true)));
    WriteContainerFile(dir_.File("without.bak"), Payload(SampleBackup(false)));

    EXPECT_EQ(Info(dir_.File("with.bak")),
              values + SetJson("0000100002000030000400123", ComponentJson(4, "INP027", 9, 5, 2, "cbf43926")) + "}\n");
    EXPECT_EQ(Info(dir_.File("without.bak")), values + "null}\n");
}

TEST_F(InfoTest, HostileTextsStayValidJsonAndOneLineInTheTable) {
    auto payload = Payload(SamplePackage({"0000100002000030000400005"}));
    const std::uint8_t model[] = {'"', '\\', '\n', 0x01, 0x7F, 0xFF, 0xC3, 0xA9, 'A', '<', '/', 0};
    std::copy(std::begin(model), std::end(model), payload.begin() + 2);  // the model name field
    payload[53] = '\t';                                                   // first byte of the first set's key
    const std::string path = dir_.File("hostile.pkg");
    WriteContainerFile(path, payload);

    const std::string json = Info(path);
    EXPECT_NE(json.find(R"("model":"\"\\\u000a\u0001\u007f\u00ff\u00c3\u00a9A</")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("key":"\u0009000100002000030000400005")"), std::string::npos) << json;
    const auto raw = [](char c) { return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F; };
    EXPECT_EQ(std::count_if(json.begin(), json.end(), raw), 1) << "only the final newline";

    const RunResult table = RunTool({"info", path});
    ASSERT_EQ(table.code, 0) << table.err;
    EXPECT_NE(table.out.find(R"(model             "\\x0a\x01\x7f\xff\xc3\xa9A</)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(R"(set \x09000100002000030000400005)"), std::string::npos) << table.out;
}

TEST_F(InfoTest, TableListsEveryComponent) {
    WriteContainerFile(dir_.File("p.pkg"), Payload(SamplePackage({"0000100002000030000400005"})));
    const RunResult r = RunTool({"info", dir_.File("p.pkg")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, dir_.File("p.pkg") +
                         ": package, kind 16, 1 set\n"
                         "model             MON27\n"
                         "version           0000100002000030000400123\n"
                         "\n"
                         "set 0000100002000030000400005\n"
                         "  type  id            length  seconds  attribute  crc32\n"
                         "  2     PRG000            43       30          7  414fa339\n"
                         "  6                        9        0          0  cbf43926\n");
}

}  // namespace
