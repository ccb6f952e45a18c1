#include "bridge/Device/CVolumeMgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/Device/DiskUtilities.h"
#include "support/FakeKernelTree.h"
#include "support/TempDir.h"

using brelvox::disks::KernelDisks;
using brelvox::foundation::PropertyList;
using testsupport::FakeKernelTree;

namespace {

constexpr const char* kEfi = "ID_PART_ENTRY_TYPE=c12a7328-f81f-11d2-ba4b-00a0c93ec93b";
constexpr const char* kBasicData = "ID_PART_ENTRY_TYPE=ebd0a0a2-b9e5-4433-87c0-68b6b72699c7";
constexpr const char* kLinux = "ID_PART_ENTRY_TYPE=0fc63daf-8483-4772-8e79-3d69d8477de4";

// A machine: an NVMe disk with a data volume, a SATA disk with the system ("/") beside an EFI, a
// Windows data and an empty partition, a SCSI disk whose name begins with the SATA disk's, a USB stick
// and a disk image, each with a mounted volume.
class VolumeMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree.AddDisk({.name = "nvme0n1", .major = 259, .minor = 0, .size512 = 4000000, .model = "Fast NVMe"});
        tree.AddPartition({.disk = "nvme0n1", .name = "nvme0n1p1", .number = 1, .major = 259, .minor = 1,
                           .size512 = 3000000, .udev = {kLinux, "ID_FS_TYPE=ext4", "ID_FS_LABEL=data"}});
        tree.AddDisk({.name = "sda", .major = 8, .minor = 0, .size512 = 8000000, .model = "Samsung SSD",
                      .udev = {"ID_BUS=ata", "ID_ATA_SATA=1", "ID_PART_TABLE_TYPE=gpt"}});
        tree.AddPartition({.disk = "sda", .name = "sda1", .number = 1, .major = 8, .minor = 1, .size512 = 200000,
                           .udev = {kEfi, "ID_FS_TYPE=vfat"}});
        tree.AddPartition({.disk = "sda", .name = "sda2", .number = 2, .major = 8, .minor = 2, .size512 = 2000000,
                           .udev = {kLinux, "ID_FS_TYPE=ext4", "ID_FS_LABEL=root"}});
        tree.AddPartition({.disk = "sda", .name = "sda3", .number = 3, .major = 8, .minor = 3, .size512 = 2000000,
                           .udev = {kBasicData, "ID_FS_TYPE=ntfs", "ID_FS_LABEL=Windows"}});
        tree.AddPartition({.disk = "sda", .name = "sda4", .number = 4, .major = 8, .minor = 4, .size512 = 2000000,
                           .udev = {kLinux}});
        tree.AddDisk({.name = "sdaa", .major = 65, .minor = 160, .size512 = 4000000, .model = "Array Disk"});
        tree.AddPartition({.disk = "sdaa", .name = "sdaa1", .number = 1, .major = 65, .minor = 161,
                           .size512 = 4000000, .udev = {kLinux, "ID_FS_LABEL=archive"}});
        tree.AddDisk({.name = "sdb", .major = 8, .minor = 16, .size512 = 1000000, .model = "Stick",
                      .udev = {"ID_BUS=usb"}});
        tree.AddPartition({.disk = "sdb", .name = "sdb1", .number = 1, .major = 8, .minor = 17, .size512 = 1000000,
                           .udev = {"ID_PART_ENTRY_TYPE=0xc", "ID_FS_LABEL=STICK"}});
        tree.AddDisk({.name = "loop0", .major = 7, .minor = 0, .size512 = 20480});
        tree.AddPartition({.disk = "loop0", .name = "loop0p1", .number = 1, .major = 259, .minor = 9,
                           .size512 = 20000});
        // The system volume is the first mount of a block device.
        tree.AddMount(0, 20, "/proc", "proc");
        tree.AddMount(8, 2, "/", "ext4");
        tree.AddMount(8, 1, "/boot/efi");
        tree.AddMount(8, 3, "/mnt/win", "ntfs3");
        tree.AddMount(259, 1, "/srv/data", "ext4");
        tree.AddMount(65, 161, "/srv/archive", "ext4");
        tree.AddMount(8, 17, "/media/u/STICK");
        tree.AddMount(259, 9, "/mnt/image");
    }

    // The free space of each file system comes from a fake: a real mount's would change under other
    // programs while the test runs.
    KernelDisks Disks() const {
        brelvox::disks::KernelRoots roots = tree.Roots();
        roots.freeSpace = [this](const std::string& mountPoint) -> std::uint64_t {
            asked.push_back(mountPoint);
            const auto found = freeBytes.find(mountPoint);
            return found != freeBytes.end() ? found->second : 0;
        };
        return KernelDisks(roots);
    }

    // "disk NAME [DISKNAME, SHOW]: vol OS NAME TOTAL; ..."
    static std::vector<std::string> Describe(const std::vector<DiskDictionary>& disks) {
        std::vector<std::string> lines;
        for (const auto& disk : disks) {
            std::string line = disk.DiskPath + " [" + disk.DiskName + ", " + disk.DiskShow + "]:";
            for (const auto& v : disk.DiskVolume) {
                line += " " + v.volumePath + " " + v.OSvolume + " " + v.volumeName + " " + v.volumeTotalSize + ";";
            }
            lines.push_back(line);
        }
        return lines;
    }

    testsupport::TempDir dir;
    FakeKernelTree tree{dir.path()};
    std::map<std::string, std::uint64_t> freeBytes{{"/srv/data", 1234567890}, {"/", 52000000}};
    mutable std::vector<std::string> asked;
};

}  // namespace

TEST_F(VolumeMgrTest, ListsInternalDisksWithTheirUsableVolumesAndMarksTheSystemVolume) {
    // Left out: the USB stick and the disk image; the EFI, Windows data and unmounted empty partitions.
    const std::vector<std::string> expected = {
        "nvme0n1 [Fast NVMe, YES]: nvme0n1p1 NO data 1.54 GB;",
        "sda [Samsung SSD, YES]: sda2 YES root 1.02 GB;",
        "sdaa [Array Disk, YES]: sdaa1 NO archive 2.05 GB;",
    };
    CVolumeMgr lister(Disks(), {});
    EXPECT_EQ(Describe(lister.enumDiskVolumesInfo()), expected);
    EXPECT_TRUE(lister.bFindOSDisk);
    EXPECT_FALSE(lister.bFirstOSVolume);
    // The variant over the disk and device lists gives the same, and never takes "sdaa1" for a
    // partition of "sda".
    CVolumeMgr variant(Disks(), {});
    EXPECT_EQ(Describe(variant.enumDiskVolumesInfo1006()), expected);

    // A mounted volume's free space is its file system's, asked at its mount point.
    const auto disks = lister.enumDiskVolumesInfo();
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[0].DiskVolume[0].volumeFreeSize, "1.23 GB");
    EXPECT_EQ(disks[1].DiskVolume[0].volumeFreeSize, "52.00 MB");
    EXPECT_EQ(disks[2].DiskVolume[0].volumeFreeSize, "0.00 KB") << "a file system that answers nothing";
    EXPECT_NE(std::find(asked.begin(), asked.end(), "/srv/data"), asked.end());
    EXPECT_EQ(DiskInfoDictionary(Disks(), "nvme0n1p1")->GetInteger("FreeSpace"), 1234567890);
}

TEST_F(VolumeMgrTest, TheResourceListChoosesTheDisks) {
    CVolumeMgr lister(Disks(), {{"sdb", "NO"}, {"sdaa", ""}});
    EXPECT_EQ(Describe(lister.enumDiskVolumesInfo()),
              (std::vector<std::string>{"sdaa [Array Disk, YES]: sdaa1 NO archive 2.05 GB;",
                                        "sdb [Stick, NO]: sdb1 NO STICK 512.00 MB;"}));
    CVolumeMgr variant(Disks(), {{"sdb", "YES"}, {"sdaa", "NO"}});
    EXPECT_EQ(Describe(variant.enumDiskVolumesInfo1006()),
              (std::vector<std::string>{"sdb [Stick, YES]: sdb1 NO STICK 512.00 MB;"}));
}

TEST_F(VolumeMgrTest, DiskDictionariesCarryTheKeysTheListerReads) {
    const PropertyList list = DiskListDictionary(Disks());
    EXPECT_EQ(list.GetStringArray("WholeDisks"),
              (std::vector<std::string>{"loop0", "nvme0n1", "sda", "sdaa", "sdb"}));
    EXPECT_EQ(list.GetStringArray("AllDisks"),
              (std::vector<std::string>{"loop0", "loop0p1", "nvme0n1", "nvme0n1p1", "sda", "sda1", "sda2", "sda3",
                                        "sda4", "sdaa", "sdaa1", "sdb", "sdb1"}));
    struct Case {
        const char* name;
        const char* key;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"sdb1", "DeviceIdentifier", "sdb1"},  {"sdb1", "BusProtocol", "USB"},
        {"sdb1", "MediaName", "Stick"},        {"sdb1", "Content", "DOS_FAT_32"},
        {"sdb1", "MountPoint", "/media/u/STICK"}, {"sdb1", "VolumeName", "STICK"},
        {"sda1", "Content", "EFI"},            {"sda3", "Content", "Microsoft Basic Data"},
        {"sda", "Content", "GUID_partition_scheme"}, {"sda", "BusProtocol", "SATA"},
        {"loop0p1", "BusProtocol", "Disk Image"}, {"sda4", "MountPoint", ""},
    };
    for (const Case& c : cases) {
        const auto info = DiskInfoDictionary(Disks(), c.name);
        ASSERT_TRUE(info) << c.name;
        EXPECT_EQ(info->GetString(c.key).value_or("<missing>"), c.value) << c.name << " " << c.key;
    }
    const auto stick = DiskInfoDictionary(Disks(), "sdb1");
    EXPECT_EQ(stick->GetInteger("TotalSize"), 1000000 * 512LL);
    EXPECT_EQ(stick->GetBool("WholeDisk"), false);
    EXPECT_EQ(DiskInfoDictionary(Disks(), "sda4")->GetInteger("FreeSpace"), 0);
    EXPECT_FALSE(DiskInfoDictionary(Disks(), "sdz"));
    EXPECT_FALSE(ZZGetDiskInfo(nullptr));
    EXPECT_FALSE(CVolumeMgr(Disks(), {}).KXGetDiskInfo(nullptr));
    EXPECT_EQ(CVolumeMgr(Disks(), {}).KXGetDiskInfo("sda2")->GetString("VolumeName"), "root");
}

TEST(CVolumeMgr, ConvertVolSpaceStepsBy1000) {
    const std::vector<std::pair<long long, std::string>> cases = {
        {0, "0.00 KB"},          {1500, "1.50 KB"},          {999999, "1000.00 KB"},
        {1000000, "1.00 MB"},    {999999999, "1000.00 MB"},  {1000000000, "1.00 GB"},
        {2500000000000, "2500.00 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(CVolumeMgr::convertVolSpace(bytes), text) << bytes;
}

TEST(CVolumeMgr, OnlyTheFirstVolumeAfterTheSystemDiskIsTheSystemVolume) {
    testsupport::TempDir dir;
    FakeKernelTree tree(dir.path());
    tree.AddMount(8, 2, "/", "ext4");
    tree.AddMount(8, 3, "/home", "ext4");
    CVolumeMgr lister(KernelDisks(tree.Roots()), {});
    PropertyList partition;
    partition.SetString("DeviceIdentifier", "sda2");
    lister.JustOSVolume(0);
    EXPECT_FALSE(lister.bFindOSDisk) << "index 0 names no volume";
    lister.JustOSVolume(2);
    EXPECT_FALSE(lister.bFindOSDisk) << "the second volume is /home";
    EXPECT_EQ(lister.MakeVolumeInfo(partition).OSvolume, "NO");
    lister.JustOSVolume(1);
    EXPECT_TRUE(lister.bFindOSDisk);
    EXPECT_EQ(lister.MakeVolumeInfo(partition).OSvolume, "YES");
    EXPECT_EQ(lister.MakeVolumeInfo(partition).OSvolume, "NO");
}

TEST(DiskRoutines, DictionaryStringsAndDevicePaths) {
    PropertyList dictionary;
    dictionary.SetString("BSD Name", "sdb1");
    dictionary.SetInteger("Size", 42);
    char buffer[16];
    struct Case {
        const char* key;
        char* buffer;
        std::size_t size;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"BSD Name", buffer, sizeof buffer, true}, {"BSD Name", buffer, 5, true},  // 4 bytes and the NUL
        {"BSD Name", buffer, 4, false},           {"BSD Name", nullptr, 16, false},
        {"BSD Name", buffer, 0, false},           {"Size", buffer, 16, false},
        {"Missing", buffer, 16, false},
    };
    for (const Case& c : cases) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GetDictionaryStringVal(dictionary, c.key, c.buffer, c.size), c.ok) << c.key << " " << c.size;
        if (c.ok) {
            EXPECT_STREQ(buffer, "sdb1");
        }
    }
    ASSERT_TRUE(GetBSDName(dictionary, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "sdb1");

    char path[16];
    EXPECT_TRUE(BSDName2DevPath(path, sizeof path, "sdb1", true));
    EXPECT_STREQ(path, "/dev/sdb1");
    EXPECT_TRUE(BSDName2DevPath(path, sizeof path, "nvme0n1", false));
    EXPECT_STREQ(path, "/dev/nvme0n1");
    std::memset(path, 'x', sizeof path);
    EXPECT_FALSE(BSDName2DevPath(path, 8, "nvme0n1p2", false));
    EXPECT_STREQ(path, "/dev/nv") << "cut to the buffer, never past it";
    EXPECT_EQ(path[8], 'x');
    EXPECT_FALSE(BSDName2DevPath(path, 0, "sda", false));
}

TEST(DiskRoutines, CommandOutputGoesToAPrivateFileAndComesBack) {
    auto read = [](const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const auto first = ZZExecCommand("echo hello; echo world");
    ASSERT_TRUE(first);
    EXPECT_EQ(read(*first), "hello\nworld\n");
    struct stat file {}, folder {};
    ASSERT_EQ(stat(first->c_str(), &file), 0);
    ASSERT_EQ(stat(std::filesystem::path(*first).parent_path().c_str(), &folder), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_NE(std::filesystem::path(*first).parent_path(), std::filesystem::temp_directory_path());

    // A failing command still answers its (empty) output; the previous output is gone.
    const auto second = ZZExecCommand("exit 3");
    ASSERT_TRUE(second);
    EXPECT_NE(*second, *first);
    EXPECT_FALSE(std::filesystem::exists(*first));
    EXPECT_EQ(read(*second), "");

    // The lister's routine keeps its own file.
    const auto lister = KXExecCommand("printf 'a b'");
    ASSERT_TRUE(lister);
    EXPECT_TRUE(std::filesystem::exists(*second));
    EXPECT_EQ(read(*lister), "a b");

    const std::string longest = "echo " + std::string(2042, 'x');
    const auto fits = KXExecCommand(longest.c_str());
    ASSERT_TRUE(fits);
    EXPECT_EQ(read(*fits), std::string(2042, 'x') + "\n");
    EXPECT_FALSE(KXExecCommand((longest + "x").c_str()));
    EXPECT_FALSE(ZZExecCommand(nullptr));
    EXPECT_FALSE(ZZExecCommand(""));
}
