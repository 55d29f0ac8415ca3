#include "app/progress_text.h"

#include <gtest/gtest.h>

namespace {

ProgressSnapshot Writing(std::uint32_t component, std::uint32_t components, std::optional<std::uint32_t> left) {
    ProgressSnapshot s;
    s.started = true;
    s.step = UpdateStep::WritingComponent;
    s.component = component;
    s.components = components;
    s.secondsLeft = left;
    return s;
}

ProgressSnapshot Waiting(UpdateStep step, std::uint32_t elapsed, std::uint32_t longest) {
    ProgressSnapshot s;
    s.started = true;
    s.step = step;
    s.component = 2;  // shown with the component steps only
    s.components = 3;
    s.secondsLeft = 600;
    s.waitEndUnknown = true;
    s.waitElapsedSeconds = elapsed;
    s.waitLongestSeconds = longest;
    return s;
}

struct LineCase {
    const char* name;
    ProgressSnapshot snapshot;
    Language language;
    std::string line;
};

class ProgressLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(ProgressLineTest, SaysTheStepAndWhatIsLeft) {
    EXPECT_EQ(ProgressLine(GetParam().snapshot, GetParam().language), GetParam().line);
}

ProgressSnapshot Completed() {
    ProgressSnapshot s = Writing(3, 3, 0);
    s.step = UpdateStep::Finishing;
    s.completed = true;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressLineTest,
    testing::Values(
        LineCase{"NotBegun", ProgressSnapshot{}, Language::English, ""},
        LineCase{"NoEstimateYet", Writing(1, 3, std::nullopt), Language::English, "Writing component 1 of 3"},
        // Minutes round up: 61 s is "about 2 min", so the line never promises less than is left.
        LineCase{"MinutesLeft", Writing(2, 3, 61), Language::English, "Writing component 2 of 3 - about 2 min left"},
        LineCase{"WholeMinute", Writing(2, 3, 60), Language::English, "Writing component 2 of 3 - about 1 min left"},
        LineCase{"LastMinute", Writing(3, 3, 59), Language::English,
                 "Writing component 3 of 3 - less than a minute left"},
        LineCase{"Japanese", Writing(2, 3, 600), Language::Japanese,
                 "コンポーネントを書き込んでいます (2/3) - 残り約10分"},
        // A wait that outlasted its expected length: what it waits for, and how long it may still take.
        LineCase{"ReturnWait", Waiting(UpdateStep::Restarting, 20, 60), Language::English,
                 "Restarting the monitor - waiting for the monitor to come back (at most 40 s)"},
        LineCase{"ChecksumWait", Waiting(UpdateStep::VerifyingComponent, 5, 300), Language::English,
                 "Verifying component 2 of 3 - waiting for the monitor to check the component (at most 295 s)"},
        LineCase{"OtherWait", Waiting(UpdateStep::Finishing, 10, 15), Language::Japanese,
                 "アップデートを仕上げています - モニターを待っています (最大5秒)"},
        LineCase{"OverdueWait", Waiting(UpdateStep::EnteringUpdateState, 130, 120), Language::English,
                 "Restarting the monitor into its update mode - waiting for the monitor to come back (at most 0 s)"},
        LineCase{"Completed", Completed(), Language::English, "Finishing the update"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StepText, NamesEveryStepInBothLanguages) {
    for (const Language language : {Language::English, Language::Japanese}) {
        for (const UpdateStep step : {UpdateStep::Preparing, UpdateStep::EnteringUpdateState,
                                      UpdateStep::WritingComponent, UpdateStep::VerifyingComponent,
                                      UpdateStep::Restarting, UpdateStep::RestoringSettings, UpdateStep::Finishing}) {
            ProgressSnapshot s = Writing(1, 2, 100);
            s.step = step;
            EXPECT_FALSE(StepText(s, language).empty()) << static_cast<int>(step);
            EXPECT_EQ(StepText(s, language).find('%'), std::string::npos) << static_cast<int>(step);
        }
    }
}

}  // namespace
