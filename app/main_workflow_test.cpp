// The window's workflow end to end against emulated monitors: start-up
// messages, the file phase, the update with its automatic restarts, resumed
// updates and the exit path.
#include "app/main_workflow.h"

#include "app/app_testing.h"

namespace {

using namespace app_testing;

class FreshUpdateTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    Bench bench;
    ScriptedView view;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, FreshUpdateTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(FreshUpdateTest, EndsWithTheNewFirmwareTheSettingsBackAndNoBackupFile) {
    bench.Plug(GetParam());
    bench.WritePackage();
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);

    ASSERT_TRUE(run->Ended());
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    const UserMessage& done = view.messages.back();
    EXPECT_EQ(done.icon, MessageIcon::Information);
    EXPECT_EQ(done.caption, MessageCaption::ExecutableName);
    const VersionLines after = MergedVersionLines(MemoryText(kAfter), "");
    EXPECT_EQ(done.arguments, (std::vector<MessageArgument>{after.head, after.tail}));
    EXPECT_EQ(view.lists, (std::vector<std::vector<std::string>>{{"Name:QX2701  S/N:SN000001"}}));
    EXPECT_EQ(view.title, "QX2701 (S/N:SN000001)");
    EXPECT_TRUE(view.ended);

    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
}

}  // namespace
