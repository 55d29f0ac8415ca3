// The hidraw backend's logic that needs no device. Opening a real node, the
// ioctls and the udev monitor need a hidraw node and are not run here; opening
// what is not one is.
#include "hid/hidraw_linux.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/system_failure.h"
#include "hid/hid_platform.h"

namespace {

namespace fs = std::filesystem;

TEST(HidrawTest, ParseHidId) {
    const struct {
        const char* uevent;
        std::optional<std::pair<std::uint16_t, std::uint16_t>> ids;
    } cases[] = {
        {"HID_ID=0003:00007E51:00004001\n", std::pair{0x7E51, 0x4001}},
        {"DRIVER=hid-generic\nHID_ID=0005:0000046D:0000B023\nHID_NAME=x\n", std::pair{0x046D, 0xB023}},
        {"HID_ID=0003:7e51:4001", std::pair{0x7E51, 0x4001}},
        {"HID_NAME=HID_ID=0003:1:1\n", std::nullopt},  // not at the start of a line
        {"HID_ID=0003:00017E51:00004001\n", std::nullopt},  // vendor beyond 16 bits
        {"HID_ID=0003:00007E51\n", std::nullopt},
        {"HID_ID=0003:XYZ:0001\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<HidId> id = ParseHidId(c.uevent);
        ASSERT_EQ(id.has_value(), c.ids.has_value()) << c.uevent;
        if (id) {
            EXPECT_EQ(id->vendorId, c.ids->first);
            EXPECT_EQ(id->productId, c.ids->second);
        }
    }
}

TEST(HidrawTest, DevicePathNaming) {
    const struct {
        const char* devnode;
        const char* hidSysname;
        const char* path;
    } cases[] = {
        {"/dev/hidraw3", "0003:7E51:4001.000A", "/dev/hidraw3#VID_7E51&PID_4001#000A"},
        {"/dev/hidraw3", "0003:7E51:4001.000B", "/dev/hidraw3#VID_7E51&PID_4001#000B"},  // re-plugged
        {"/dev/hidraw0", "0005:046D:B023.1F2E3", "/dev/hidraw0#VID_046D&PID_B023#1F2E3"},
        {"/dev/hidraw0", "0003:7E51:4001", ""},
        {"/dev/hidraw0", "0003:17E51:4001.0001", ""},
        {"/dev/hidraw0", "hidraw0", ""},
        {"", "0003:7E51:4001.000A", ""},
        {"/dev/odd#name", "0003:7E51:4001.000A", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeHidrawDevicePath(c.devnode, c.hidSysname), c.path) << c.hidSysname;
    }
    EXPECT_EQ(HidrawDevnode("/dev/hidraw3#VID_7E51&PID_4001#000A"), "/dev/hidraw3");
    EXPECT_EQ(HidSysnameFromSyspath("/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/0003:7E51:4001.000A/hidraw/hidraw3"),
              "0003:7E51:4001.000A");
    EXPECT_EQ(HidSysnameFromSyspath("/sys/devices/virtual/misc/uhid"), "");
    EXPECT_EQ(HidSysnameFromSyspath("hidraw3"), "");
}

// A sysfs tree in a temporary directory.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hidraw_sysfs_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Dir(const std::string& relative, const std::string& uevent) {
        const fs::path dir = root_ / relative;
        fs::create_directories(dir);
        std::ofstream(dir / "uevent") << uevent;
        return dir;
    }

    fs::path root_;
};

TEST_F(FakeSysfs, UsbDeviceGivesVendorProductAndVersion) {
    Dir("devices/usb1/1-1", "DEVTYPE=usb_device\nPRODUCT=7e51/4001/102\n");
    std::ofstream(root_ / "devices/usb1/1-1/bcdDevice") << "0102\n";
    Dir("devices/usb1/1-1/1-1:1.0", "DEVTYPE=usb_interface\n");
    Dir("devices/usb1/1-1/1-1:1.0/0003:7E51:4001.000A", "DRIVER=hid-generic\nHID_ID=0003:00007E51:00004001\n");
    Dir("devices/usb1/1-1/1-1:1.0/0003:7E51:4001.000A/hidraw/hidraw3", "MAJOR=240\nMINOR=3\nDEVNAME=hidraw3\n");
    // Found through a symbolic link, as /sys/dev/char/240:3 is.
    fs::create_directories(root_ / "dev/char");
    fs::create_directory_symlink(root_ / "devices/usb1/1-1/1-1:1.0/0003:7E51:4001.000A/hidraw/hidraw3",
                                 root_ / "dev/char/240:3");

    const std::optional<HidSysfsInfo> info = ReadHidrawSysfs(root_ / "dev/char/240:3");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->hidSysname, "0003:7E51:4001.000A");
    EXPECT_EQ(info->vendorId, 0x7E51);
    EXPECT_EQ(info->productId, 0x4001);
    EXPECT_EQ(info->versionNumber, 0x0102);
}

TEST_F(FakeSysfs, WithoutUsbDeviceTheVersionIsZero) {
    Dir("devices/bt/hci0", "DEVTYPE=host\n");
    Dir("devices/bt/hci0/0005:046D:B023.0001", "HID_ID=0005:0000046D:0000B023\n");
    const fs::path node = Dir("devices/bt/hci0/0005:046D:B023.0001/hidraw/hidraw0", "DEVNAME=hidraw0\n");
    const std::optional<HidSysfsInfo> info = ReadHidrawSysfs(node);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendorId, 0x046D);
    EXPECT_EQ(info->versionNumber, 0);
}

TEST_F(FakeSysfs, NoHidDeviceOrNoNode) {
    const fs::path node = Dir("devices/virtual/hidraw/hidraw9", "DEVNAME=hidraw9\n");
    EXPECT_FALSE(ReadHidrawSysfs(node));
    EXPECT_FALSE(ReadHidrawSysfs(root_ / "missing"));
}

TEST(HidrawTest, DescriptorUsesReportIds) {
    using Bytes = std::vector<std::uint8_t>;
    const struct {
        Bytes descriptor;
        bool ids;
    } cases[] = {
        {{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0xC0}, true},
        {{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0xC0}, false},
        {{0x06, 0x85, 0x85, 0x27, 0x85, 0x85, 0x85, 0x85}, false},  // 0x85 only as item data
        {{0xFE, 0x02, 0x10, 0x85, 0x85}, false},                    // inside a long item
        {{0x27, 0x01}, false},                                      // truncated
    };
    for (const auto& c : cases) EXPECT_EQ(DescriptorUsesReportIds(c.descriptor), c.ids);
}

// An open that fails in the system leaves the call and the node for the
// message that reports it; one refused for another reason leaves nothing.
TEST(HidrawTest, AFailedOpenNotesTheCallAndTheNode) {
    char pattern[] = "/tmp/hidraw_open_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    std::ofstream(root / "hidraw7") << "a plain file";
    const struct {
        const char* name;
        fs::path node;
        std::optional<SystemFailure> cause;
    } cases[] = {
        {"missing node", root / "hidraw9", SystemFailure{"open " + (root / "hidraw9").string(), ENOENT}},
        {"a directory", root, SystemFailure{"open " + root.string(), EISDIR}},
        {"not a device", root / "hidraw7", std::nullopt},
    };
    const std::unique_ptr<HidPlatform> platform = MakeHidrawPlatform();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoteSystemFailure("an earlier failure", EIO);
        EXPECT_FALSE(platform->Open(c.node.string() + "#VID_7E51&PID_4001#0001", false));
        EXPECT_EQ(TakeSystemFailure(), c.cause);
    }
    fs::remove_all(root);
}

}  // namespace
