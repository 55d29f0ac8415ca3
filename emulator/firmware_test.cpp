// Firmware images, version texts and the state file.
#include <gtest/gtest.h>

#include "common/bytes.h"
#include "emulator/firmware_image.h"
#include "emulator/monitor_state.h"
#include "emulator/emulator_testing.h"

namespace {

TEST(FirmwareImageTest, OnlyAnIntactImageOfItsComponentRuns) {
    const ComponentArea& prg = ComponentAreas()[0];
    const ComponentArea& aic = ComponentAreas()[2];
    const auto image = MakeImage(prg, 1234, prg.Capacity(), 1);
    EXPECT_EQ(RunnableVersion(prg, image), 1234);
    EXPECT_EQ(RunnableVersion(aic, image), std::nullopt);  // names another component

    auto corrupted = image;
    corrupted[300] ^= 0x40;
    EXPECT_EQ(RunnableVersion(prg, corrupted), std::nullopt);

    auto partial = image;  // an announcement erases, the power went before the end
    std::fill(partial.begin() + 1024, partial.end(), 0xFF);
    EXPECT_EQ(RunnableVersion(prg, partial), std::nullopt);

    auto headerless = image;
    headerless[0] = 0;
    EXPECT_EQ(RunnableVersion(prg, headerless), std::nullopt);
    EXPECT_EQ(ChecksummedLength(headerless), headerless.size());

    // A shorter image in a larger area: the checksum covers what the header declares.
    auto held = MakeImage(aic, 7, 1300, 2);
    held.resize(aic.Capacity(), 0xFF);
    EXPECT_EQ(RunnableVersion(aic, held), 7);
    EXPECT_EQ(ChecksummedLength(held), 1300u);
    auto longer = held;
    WriteU32(longer, kImageLengthOffset, static_cast<std::uint32_t>(aic.Capacity() + 1));
    EXPECT_EQ(RunnableVersion(aic, longer), std::nullopt);
}

TEST(FirmwareImageTest, ComponentIdsInEitherCase) {
    EXPECT_EQ(FindComponentArea("PRG001"), 1u);
    EXPECT_EQ(FindComponentArea("inp027"), 3u);
    EXPECT_EQ(FindComponentArea("PRG00"), std::nullopt);
    EXPECT_EQ(FindComponentArea("XYZ123"), std::nullopt);
}

TEST(FirmwareImageTest, VersionTexts) {
    EXPECT_EQ(ParseVersionText("0010200201000030000465535"), (VersionFields{102, 201, 3, 4, 65535}));
    EXPECT_EQ(FormatVersionText({102, 201, 3, 4, 65535}), "0010200201000030000465535");
    for (const char* bad : {"001020020100003000046553", "00102002010000300004655360", "0010200201000030000465536",
                            "00102002010000300004a6553"}) {
        EXPECT_EQ(ParseVersionText(bad), std::nullopt) << bad;
    }
}

TEST(MonitorStateTest, FileKeepsEverythingAndRefusesDamage) {
    MonitorState state;
    state.mode = MonitorMode::Update;
    state.bootSelector = 1;
    state.settings[{0xFF00, 0x00B8}] = {0};
    state.settings[{0xFF03, 0x0022}] = std::vector<std::uint8_t>(64, 9);
    state.indexedSettings[200] = 0xDEADBEEF;
    state.components[3] = {1, 2, 3};
    const auto bytes = SerializeState(state);
    EXPECT_EQ(DeserializeState(bytes), state);

    for (std::size_t at : {std::size_t{0}, std::size_t{9}, bytes.size() / 2, bytes.size() - 1}) {
        auto damaged = bytes;
        damaged[at] ^= 1;
        EXPECT_EQ(DeserializeState(damaged), std::nullopt) << at;
    }
    EXPECT_EQ(DeserializeState({bytes.begin(), bytes.end() - 5}), std::nullopt);

    TempDir dir;
    const std::string path = dir.Path() + "/state";
    std::string fault;
    EXPECT_EQ(LoadStateFile(path, &fault), std::nullopt);
    EXPECT_TRUE(fault.empty());  // no file: a fresh monitor
    ASSERT_TRUE(SaveStateFile(path, state, &fault));
    EXPECT_EQ(LoadStateFile(path, &fault), state);
}

}  // namespace
