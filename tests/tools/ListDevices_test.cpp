#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "brelvox-scan/ListDevices.h"
#include "../engine/EnumDevice/EnumDeviceFixture.h"
#include "engine/EnumDevice/EnumDeviceEx.h"
#include "support/Fixtures.h"

using namespace enumtest;

namespace {

TEST(ListDevices, PrintsDisksPartitionsAndVolumesWithSizeFileSystemAndLabel) {
    testsupport::TempDir dir;
    testsupport::FakeKernelTree tree(dir.path());
    MarkerAnalyzers analyzers;
    tree.AddDisk({.name = "sda",
                  .major = 8,
                  .minor = 0,
                  .size512 = 131072,
                  .vendor = "Acme",
                  .model = "Stick",
                  .udev = {"ID_BUS=usb", "ID_PART_TABLE_TYPE=dos"}});
    auto disk = tree.MakeNode("sda", 64ull << 20);
    WriteAt(disk, 0, MbrSector({{0x0C, 2048, 40960}, {0x07, 43008, 40960}}));
    WriteAt(disk, 2048ull * 512, MarkerSector(FILE_SYSTEM_FAT32, "PHOTOS"));
    WriteAt(disk, 43008ull * 512, MarkerSector(FILE_SYSTEM_NTFS, "BACKUP"));
    tree.AddPartition(
        {.disk = "sda", .name = "sda1", .number = 1, .major = 8, .minor = 1, .start512 = 2048, .size512 = 40960});
    WriteAt(tree.MakeNode("sda1", 40960ull * 512), 0, MarkerSector(FILE_SYSTEM_FAT32, "PHOTOS"));
    tree.AddMount(8, 1, "/media/PHOTOS");

    CEnumDeviceEx devices(tree.Roots());
    std::ostringstream out, err;
    ASSERT_EQ(ListDevices(devices, out, err), 0) << err.str();
    EXPECT_EQ(out.str(),
              "disk sda  67.1 MB  131072 sectors of 512  USB  MBR  \"Acme Stick\"\n"
              "  partition 1  start 2048  21.0 MB  FAT32  \"PHOTOS\"\n"
              "  partition 2  start 43008  21.0 MB  NTFS  \"BACKUP\"\n"
              "  volume sda1  number 1  start 2048  21.0 MB  FAT32  \"PHOTOS\"  name \"PHOTOS\"  mounted\n"
              "  volume (partition)  number 2  start 43008  21.0 MB  NTFS  \"BACKUP\"  name \"\"\n");
}

TEST(ListDevices, AMachineWithoutDisksFailsWithAReason) {
    testsupport::TempDir dir;
    testsupport::FakeKernelTree tree(dir.path());
    CEnumDeviceEx devices(tree.Roots());
    std::ostringstream out, err;
    EXPECT_EQ(ListDevices(devices, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("no disk"), std::string::npos);
}

TEST(ListDevices, TheDriverTakesTheOptionAlone) {
    const std::string driver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
    std::string output;
    EXPECT_EQ(testsupport::RunCommand(driver + " --list-devices extra 2>&1", &output), 2);
    EXPECT_NE(output.find("usage: brelvox-scan"), std::string::npos);
    // On this machine: a listing, or a reason when no disk can be listed.
    int status = testsupport::RunCommand(driver + " --list-devices >/dev/null 2>&1");
    EXPECT_TRUE(status == 0 || status == 1) << status;
}

}  // namespace
