// Plain files read whole.
#include <gtest/gtest.h>

#include "tools/vfwtool/plain_file.h"
#include "tools/vfwtool/vfwtool_testing.h"

namespace {

TEST(PlainFileTest, ReadsTheWholeFile) {
    TempDir dir;
    std::vector<std::uint8_t> big(300000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    WriteFile(dir.File("big"), big);
    std::string fault;
    EXPECT_EQ(ReadPlainFile(dir.File("big"), fault), big);
    EXPECT_EQ(ReadPlainFile(dir.File("none"), fault), std::nullopt);
    EXPECT_NE(fault.find("cannot open"), std::string::npos) << fault;
}

}  // namespace
