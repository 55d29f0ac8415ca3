#include "conflict/known_programs.h"

#include <gtest/gtest.h>

#include <tuple>

#include "conflict/quit_request.h"

namespace {

// The table as the maker's programs are known, character for character.
TEST(KnownPrograms, TheFourteenRows) {
    using Row = std::tuple<std::string, std::string, bool, bool, int, std::string, std::string>;
    const Row expected[] = {
        {"Tintorra 6.exe", "Tintorra 6", false, false, 0, "", ""},
        {"tt6_hubcore.exe", "Tintorra 6 Core", true, false, 100, "", ""},
        {"Tintorra Aurel.exe", "Tintorra Aurel", false, false, 0, "", ""},
        {"tta_hubcore.exe", "Tintorra Aurel Core", true, false, 100, "", ""},
        {"Tintorra Lite.exe", "Tintorra Lite", false, false, 0, "", ""},
        {"ttl_hubcore.exe", "Tintorra Lite Core", true, false, 100, "", ""},
        {"TTNetAgent.exe", "Tintorra NetAgent", true, true, 0, "", ""},
        {"otpro.exe", "Omnitint Pro", false, false, 0, "", ""},
        {"Glowkeeper.exe", "Scanvell Glowkeeper", true, true, 100, "", ""},
        {"ScanvellService.exe", "Scanvell 4 Service", true, true, 100, "", "ScanvellService"},
        {"Pnlctrl.exe", "Panelwarden Pro", false, false, 0, "", ""},
        {"Tintorra 7.exe", "Tintorra 7", false, false, 0, "Tintorra 7", ""},
        {"Scanvell5.exe", "Scanvell 5", true, false, 0, "Scanvell", ""},
        {"Scanvell5Service.exe", "Scanvell 5 Service", true, true, 100, "", "Scanvell5Service"},
    };
    const auto& table = GetKnownPrograms();
    ASSERT_EQ(table.size(), std::size(expected));
    for (const Row& row : expected) {
        const auto it = table.find(std::get<0>(row));
        ASSERT_NE(it, table.end()) << std::get<0>(row);
        const KnownProgram& p = it->second;
        EXPECT_EQ(Row(p.exeName, p.displayName, p.hiddenFromList, p.restartAfterUpdate, p.closeOrder, p.pipeName,
                      p.serviceName),
                  row);
    }
}

TEST(QuitRequest, IsExactlyTheJsonText) {
    const std::string expected =
        R"({"id": 0,"type": "tongs","process": "Quillon","dataType": "bridge-cross","target": "ApplicationMain",)"
        R"("message": {"uri": "/localhost/Application","settings": {"method":"DELETE"}}})";
    EXPECT_EQ(QuitRequestMessage(), expected);
    EXPECT_EQ(QuitRequestMessage().size(), 169 + std::string(kQuitRequestHost).size());
}

}  // namespace
