#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/disks/KernelDisks.h"
#include "support/FakeKernelTree.h"
#include "support/TempDir.h"

using namespace brelvox::disks;
using testsupport::FakeKernelTree;
using testsupport::TempDir;

namespace {

std::vector<std::string> Names(const std::vector<BlockDevice>& devices) {
    std::vector<std::string> names;
    for (auto& d : devices) names.push_back(d.name);
    return names;
}

class KernelDisksTest : public testing::Test {
protected:
    TempDir dir;
    FakeKernelTree tree{dir.path()};
    KernelDisks Reader() { return KernelDisks(tree.Roots()); }
};

TEST_F(KernelDisksTest, ListsDataDisksByNameAndLeavesOutOpticalRamAndZram) {
    tree.AddDisk({.name = "sdb", .major = 8, .minor = 16, .size512 = 100000});
    tree.AddDisk({.name = "sda", .major = 8, .minor = 0, .size512 = 200000});
    tree.AddDisk({.name = "sr0", .major = 11, .minor = 0, .size512 = 4000});
    tree.AddDisk({.name = "ram0", .major = 1, .minor = 0, .size512 = 8192});
    tree.AddDisk({.name = "zram0", .major = 252, .minor = 0, .size512 = 8192});
    tree.AddDisk({.name = "sdc", .major = 8, .minor = 32, .size512 = 4000, .scsiType = 5});  // a DVD drive
    tree.AddDisk({.name = "sdd", .major = 8, .minor = 48, .size512 = 4000, .udev = {"ID_CDROM=1"}});
    tree.AddDisk({.name = "loop3", .major = 7, .minor = 3, .size512 = 20480});
    tree.AddDisk({.name = "nvme0n1", .major = 259, .minor = 0, .size512 = 20480});
    tree.AddPartition(
        {.disk = "sda", .name = "sda1", .number = 1, .major = 8, .minor = 1, .start512 = 2048, .size512 = 1000});
    EXPECT_EQ(Names(Reader().Disks()), (std::vector<std::string>{"loop3", "nvme0n1", "sda", "sdb"}));
}

TEST_F(KernelDisksTest, ReadsTheFactsOfADisk) {
    tree.AddDisk({.name = "sda",
                  .major = 8,
                  .minor = 0,
                  .size512 = 15633408,
                  .removable = true,
                  .readOnly = true,
                  .vendor = "Kingston",
                  .model = "DataTraveler 3.0",
                  .udev = {"ID_BUS=usb", "ID_PART_TABLE_TYPE=dos"}});
    auto disks = Reader().Disks();
    ASSERT_EQ(disks.size(), 1u);
    const BlockDevice& d = disks[0];
    EXPECT_TRUE(d.whole);
    EXPECT_EQ(d.disk, "sda");
    EXPECT_EQ(d.number, makedev(8, 0));
    EXPECT_EQ(d.SizeBytes(), 15633408ull * 512);
    EXPECT_EQ(d.TotalSectors(), 15633408);
    EXPECT_EQ(d.logicalBlockSize, 512u);
    EXPECT_TRUE(d.removable);
    EXPECT_TRUE(d.readOnly);
    EXPECT_EQ(d.partitionNumber, -1);
    EXPECT_EQ(d.bus, kBusUSB);
    EXPECT_EQ(d.PartitionScheme(), kSchemeMBR);
    EXPECT_EQ(d.DisplayName(), "Kingston DataTraveler 3.0");
    EXPECT_EQ(Reader().DevicePath("sda"), (tree.Roots().dev / "sda").string());
}

TEST_F(KernelDisksTest, SizesStayIn512ByteUnitsOnA4KDisk) {
    // The kernel writes size and start in 512-byte units even when the logical block is 4096 bytes.
    tree.AddDisk({.name = "loop1", .major = 7, .minor = 1, .size512 = 131072, .blockSize = 4096});
    tree.AddPartition({.disk = "loop1",
                       .name = "loop1p1",
                       .number = 1,
                       .major = 259,
                       .minor = 3,
                       .start512 = 2048,
                       .size512 = 65536});
    auto disk = Reader().Find("loop1");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->logicalBlockSize, 4096u);
    EXPECT_EQ(disk->TotalSectors(), 16384);
    EXPECT_EQ(disk->SizeBytes(), 64ull << 20);
    auto parts = Reader().Partitions("loop1");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].logicalBlockSize, 4096u);
    EXPECT_EQ(parts[0].StartSector(), 256);
    EXPECT_EQ(parts[0].TotalSectors(), 8192);
    EXPECT_FALSE(parts[0].whole);
    EXPECT_EQ(parts[0].disk, "loop1");
}

TEST_F(KernelDisksTest, PartitionsComeByNumberWithTheirStarts) {
    tree.AddDisk({.name = "sda", .major = 8, .minor = 0, .size512 = 1 << 24});
    tree.AddPartition(
        {.disk = "sda", .name = "sda10", .number = 10, .major = 259, .minor = 0, .start512 = 90000, .size512 = 100});
    tree.AddPartition({.disk = "sda",
                       .name = "sda2",
                       .number = 2,
                       .major = 8,
                       .minor = 2,
                       .start512 = 4096,
                       .size512 = 2048,
                       .udev = {"ID_FS_TYPE=exfat", "ID_FS_LABEL=MY_STICK", "ID_FS_LABEL_ENC=MY\\x20STICK"}});
    tree.AddPartition(
        {.disk = "sda", .name = "sda1", .number = 1, .major = 8, .minor = 1, .start512 = 2048, .size512 = 2048});
    auto parts = Reader().Partitions("sda");
    EXPECT_EQ(Names(parts), (std::vector<std::string>{"sda1", "sda2", "sda10"}));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].partitionNumber, 1);
    EXPECT_EQ(parts[0].StartSector(), 2048);
    EXPECT_EQ(parts[1].FsType(), "exfat");
    EXPECT_EQ(parts[1].FsLabel(), "MY STICK");
    EXPECT_EQ(parts[2].number, makedev(259, 0));
    auto found = Reader().Find("sda2");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->partitionNumber, 2);
    EXPECT_FALSE(Reader().Find("sda3"));
    EXPECT_TRUE(Reader().Partitions("../sda").empty());
}

TEST_F(KernelDisksTest, HostileSysfsValuesAreRefused) {
    struct Case {
        std::string name, file, content;
    } cases[] = {
        {"sda", "dev", "garbage"}, {"sdb", "dev", "8"},
        {"sdc", "size", "-5"},     {"sdd", "size", "18446744073709551615"},  // more bytes than an i64 holds
        {"sde", "size", "12abc"},
    };
    std::uint32_t minor = 0;
    for (auto& c : cases) {
        tree.AddDisk({.name = c.name, .major = 8, .minor = minor, .size512 = 100000});
        minor += 16;
        testsupport::WriteFile(tree.Roots().sys / "class" / "block" / c.name / c.file, c.content);
    }
    // A block size that is not a power of two from 512 to 65536 falls back to 512.
    tree.AddDisk({.name = "sdf", .major = 8, .minor = 80, .size512 = 100000, .blockSize = 1000});
    tree.AddDisk({.name = "sdg", .major = 8, .minor = 96, .size512 = 100000, .blockSize = 0});
    tree.AddPartition({.disk = "sdf", .name = "sdf1", .number = 1, .major = 8, .minor = 81, .size512 = 10});
    testsupport::WriteFile(tree.Roots().sys / "class" / "block" / "sdf" / "sdf1" / "partition", "-1");
    tree.AddPartition({.disk = "sdf", .name = "sdf2", .number = 2, .major = 8, .minor = 82, .size512 = 10});
    testsupport::WriteFile(tree.Roots().sys / "class" / "block" / "sdf" / "sdf2" / "start", "99999999999999999999");
    auto disks = Reader().Disks();
    EXPECT_EQ(Names(disks), (std::vector<std::string>{"sdf", "sdg"}));
    for (auto& d : disks) EXPECT_EQ(d.logicalBlockSize, 512u) << d.name;
    EXPECT_TRUE(Reader().Partitions("sdf").empty());
}

TEST_F(KernelDisksTest, ApfsNamesComeFromTheUdevDatabaseOnly) {
    tree.AddDisk({.name = "sda", .major = 8, .minor = 0, .size512 = 1 << 24});
    tree.AddPartition({.disk = "sda",
                       .name = "sda1",
                       .number = 1,
                       .major = 8,
                       .minor = 1,
                       .start512 = 40,
                       .size512 = 1 << 20,
                       .udev = {"ID_FS_TYPE=apfs", "ID_FS_LABEL_ENC=Macintosh\\x20HD"}});
    tree.AddPartition({.disk = "sda",
                       .name = "sda2",
                       .number = 2,
                       .major = 8,
                       .minor = 2,
                       .start512 = 1 << 21,
                       .size512 = 1 << 20,
                       .udev = {"ID_FS_TYPE=apfs"}});
    auto found = Reader().FindApfsVolume("sda1");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Macintosh HD");
    EXPECT_EQ(found->identifier, "sda1");
    EXPECT_FALSE(Reader().FindApfsVolume("sda2"));
    EXPECT_FALSE(Reader().FindApfsVolume("sda"));
}

TEST_F(KernelDisksTest, APartitionWithoutAStartIsKeptWithStartUnknown) {
    tree.AddDisk({.name = "sda", .major = 8, .minor = 0, .size512 = 1 << 24});
    tree.AddPartition(
        {.disk = "sda", .name = "sda1", .number = 1, .major = 8, .minor = 1, .start512 = 40, .size512 = 1 << 20});
    std::filesystem::remove(tree.Roots().sys / "class" / "block" / "sda" / "sda1" / "start");
    auto parts = Reader().Partitions("sda");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].StartSector(), 0);
}

TEST(MountInfo, UnescapesFieldsAndSkipsOptionalOnes) {
    auto entry = ParseMountInfoLine(
        "36 35 8:17 / /media/user/MY\\040STICK\\011tab rw,noatime master:1 shared:7 - vfat /dev/sdb1 rw");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->major, 8u);
    EXPECT_EQ(entry->minor, 17u);
    EXPECT_EQ(entry->root, "/");
    EXPECT_EQ(entry->mountPoint, "/media/user/MY STICK\ttab");
    EXPECT_EQ(entry->fsType, "vfat");
    EXPECT_EQ(entry->source, "/dev/sdb1");
    // Without optional fields too.
    entry = ParseMountInfoLine("22 28 0:21 / /proc rw,relatime - proc proc rw");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->mountPoint, "/proc");

    for (const char* bad : {"", "36 35 8:17 / /mnt rw", "36 35 817 / /mnt rw - vfat /dev/x rw",
                            "36 35 8:17 / /mnt rw shared:1 vfat /dev/x rw", "1 2 3 4 5 6 - a"}) {
        EXPECT_FALSE(ParseMountInfoLine(bad)) << bad;
    }
    EXPECT_EQ(UnescapeMountField("a\\134b\\04"), "a\\b\\04");
    EXPECT_EQ(UnescapeMountField("\\000x\\999"), "\\000x\\999");
}

TEST_F(KernelDisksTest, MountPointPrefersTheWholeFileSystemOverABindMount) {
    tree.AddMount(8, 1, "/srv/bind", "vfat", "/sub");
    tree.AddMount(8, 1, "/media/My\\040Disk");
    tree.AddMountLine("this line is broken");
    tree.AddMount(8, 2, "/only/bind", "ntfs", "/x");
    auto reader = Reader();
    EXPECT_EQ(reader.MountPoint(8, 1), "/media/My Disk");
    EXPECT_EQ(reader.MountPoint(8, 2), "/only/bind");
    EXPECT_EQ(reader.MountPoint(8, 3), "");
    EXPECT_EQ(reader.Mounts().size(), 3u);
}

TEST(Udev, PropertiesEscapesAndBusKinds) {
    auto props = ParseUdevData(
        "S:disk/by-id/usb-x\nE:ID_BUS=usb\nE:ID_FS_LABEL_ENC=a\\x2fb\\x20c\nE:=bad\nE:NOVALUE\n"
        "E:ID_EMPTY=\nG:systemd");
    EXPECT_EQ(props.size(), 3u);
    EXPECT_EQ(props["ID_BUS"], "usb");
    EXPECT_EQ(props["ID_EMPTY"], "");
    EXPECT_EQ(DecodeUdevEscapes(props["ID_FS_LABEL_ENC"]), "a/b c");
    EXPECT_EQ(DecodeUdevEscapes("x\\x00y\\xZZ\\x4"), "x\\x00y\\xZZ\\x4");

    struct Case {
        std::vector<std::pair<std::string, std::string>> props;
        std::string name, path;
        std::uint32_t bus;
    } cases[] = {
        {{{"ID_BUS", "usb"}}, "sdb", "devices/pci0000:00/ata1/host0/block/sdb", kBusUSB},
        {{{"ID_BUS", "ata"}}, "sda", "", kBusATA},
        {{{"ID_BUS", "ata"}, {"ID_ATA_SATA", "1"}}, "sda", "", kBusSATA},
        {{{"ID_BUS", "scsi"}}, "sda", "", kBusSCSI},
        {{}, "sdb", "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb", kBusUSB},
        {{}, "sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", kBusATA},
        {{}, "vda", "devices/pci0000:00/0000:00:02.0/virtio1/block/vda", kBusVirtual},
        {{}, "loop0", "devices/virtual/block/loop0", kBusVirtual},
        {{}, "md0", "", kBusVirtual},
        {{}, "nvme0n1", "devices/pci0000:00/0000:00:04.0/nvme/nvme0/nvme0n1", kBusSCSI},
    };
    for (auto& c : cases) {
        std::map<std::string, std::string> p(c.props.begin(), c.props.end());
        EXPECT_EQ(BusKindOf(p, c.name, c.path), c.bus) << c.name << " " << c.path;
    }
}

// A small file is read as it is, without room kept for the largest file it could be (the listing of
// a machine's disks reads thousands of them); a longer one is cut at the limit; a proc file, whose
// size reads 0, is read to its end.
TEST(SmallFile, ReadsWhatTheFileHolds) {
    TempDir dir;
    const std::string bytes = "259:0\n";
    {
        std::ofstream(dir / "dev") << bytes;
    }
    const auto small = ReadSmallFile(dir / "dev");
    ASSERT_TRUE(small);
    EXPECT_EQ(*small, bytes);
    EXPECT_LT(small->capacity(), 64u * 1024) << "no room is kept beyond what the file held";

    const std::string longer(10000, 'x');
    {
        std::ofstream(dir / "long") << longer;
    }
    EXPECT_EQ(ReadSmallFile(dir / "long"), longer);
    EXPECT_EQ(ReadSmallFile(dir / "long", 5000), longer.substr(0, 5000));
    EXPECT_EQ(ReadSmallFile(dir / "missing"), std::nullopt);

    struct stat st {};
    ASSERT_EQ(stat("/proc/self/cmdline", &st), 0);
    ASSERT_EQ(st.st_size, 0) << "proc files report no size";
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(cmdline.empty());
    EXPECT_EQ(ReadSmallFile("/proc/self/cmdline"), cmdline);
}

TEST(KernelDisksLive, ReadsThisMachineWithoutFailing) {
    KernelDisks reader;
    for (auto& disk : reader.Disks()) {
        EXPECT_TRUE(disk.whole);
        EXPECT_GE(disk.logicalBlockSize, 512u);
        struct stat st {};
        // The device number is the kernel's own, as stat reports it for the node.
        if (stat(reader.DevicePath(disk.name).c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            EXPECT_EQ(st.st_rdev, disk.number) << disk.name;
        }
        for (auto& part : reader.Partitions(disk.name)) EXPECT_EQ(part.disk, disk.name);
    }
}

}  // namespace
