// What --usbip says when the machine cannot take its devices.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "common/temp_dir_testing.h"
#include "tools/monitor-emulator/usbip_access.h"

namespace {

TEST(UsbipAccessTest, SaysWhatIsMissing) {
    const std::string kNotRoot = "--usbip needs root to attach to vhci_hcd: cannot write ";
    struct Case {
        const char* what;
        std::function<void(const std::string& root)> make;
        std::string said;  // after the root folder's path where it names a file
        bool needsUser = false;
    };
    const std::vector<Case> cases{
        {"no module", [](const std::string&) {}, "--usbip needs the vhci-hcd kernel module: run `sudo modprobe vhci-hcd`"},
        {"ready",
         [](const std::string& root) {
             std::filesystem::create_directory(root);
             std::ofstream(root + "/attach");
         },
         ""},
        {"no attach file", [](const std::string& root) { std::filesystem::create_directory(root); },
         kNotRoot + "ROOT/attach: No such file or directory"},
        {"attach not a file", [](const std::string& root) { std::filesystem::create_directories(root + "/attach"); },
         kNotRoot + "ROOT/attach: Is a directory"},
        {"attach only readable",
         [](const std::string& root) {
             std::filesystem::create_directory(root);
             std::ofstream(root + "/attach");
             ::chmod((root + "/attach").c_str(), 0444);
         },
         kNotRoot + "ROOT/attach: Permission denied", true},
    };
    for (const Case& c : cases) {
        if (c.needsUser && ::geteuid() == 0) continue;  // root may write a read-only file
        TempDir dir;
        const std::string root = dir.File("vhci_hcd.0");
        c.make(root);
        std::string said = c.said;
        if (const auto at = said.find("ROOT"); at != std::string::npos) said.replace(at, 4, root);
        EXPECT_EQ(UsbipUnavailable(VhciHcd(root)), said) << c.what;
    }
}

}  // namespace
