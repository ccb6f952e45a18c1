// The refusal to write into what is scanned, over a fake sysfs tree and mount table: disks sda (8:0)
// with partitions sda1 (1 MiB at 1 MiB), sda2 (2 MiB at 2 MiB), disk sdb (8:16) with sdb1, a
// device-mapper volume dm-0 built on sda2, loop devices over one image file (loop0 whole, loop2 and
// loop3 at offsets inside it, loop4 overlapping loop2, loop5 whole again), loop1 (no image), and a
// FUSE file system (0:40) mounted from the image.
#include "platform/disks/DestinationCheck.h"

#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using brelvox::disks::Destination;
using brelvox::disks::FileIdentity;

class DestinationCheck : public ::testing::Test {
protected:
    void SetUp() override {
        Device("devices/sda", "8:0", false);
        Device("devices/sda/sda1", "8:1", true, 2048, 2048);
        Device("devices/sda/sda2", "8:2", true, 4096, 4096);
        Device("devices/sdb", "8:16", false);
        Device("devices/sdb/sdb1", "8:17", true, 2048, 2048);
        Device("devices/dm-0", "253:0", false);
        fs::create_directories(sys / "devices/dm-0/slaves");
        fs::create_directory_symlink("../../sda/sda2", sys / "devices/dm-0/slaves/sda2");
        testsupport::WriteFile(dir / "image.img", "image");
        Loop("loop0", "7:0", 0, 0);
        Device("devices/loop1", "7:1", false);
        Loop("loop2", "7:2", 1 << 20, 1 << 20);
        Loop("loop3", "7:3", 4 << 20, 0);
        Loop("loop4", "7:4", 3 << 19, 1 << 20);
        Loop("loop5", "7:5", 0, 0);
        fs::create_directories(dir / "proc/self");
        testsupport::WriteFile(dir / "proc/self/mountinfo",
                               "22 1 254:0 / / rw - ext4 /dev/vda rw\n"
                               "45 22 0:40 / /mnt/fuse rw - fuse " + (dir / "image.img").string() + " rw\n"
                               "46 22 0:41 / /mnt/net rw - fuse.sshfs host:/srv rw\n");
        // A hostile tree: a slave that names its own device.
        Device("devices/dm-1", "253:1", false);
        fs::create_directories(sys / "devices/dm-1/slaves");
        fs::create_directory_symlink("../../dm-1", sys / "devices/dm-1/slaves/dm-1");
    }
    // The device's folder with its "dev" (and "partition") file, and its /sys/dev/block link.
    // Partitions with their start and size in 512-byte units.
    void Device(const std::string& folder, const std::string& number, bool partition, int start = 0, int size = 0) {
        fs::create_directories(sys / folder);
        testsupport::WriteFile(sys / folder / "dev", number + "\n");
        if (partition) {
            testsupport::WriteFile(sys / folder / "partition", "1\n");
            testsupport::WriteFile(sys / folder / "start", std::to_string(start) + "\n");
            testsupport::WriteFile(sys / folder / "size", std::to_string(size) + "\n");
        }
        fs::create_directories(sys / "dev/block");
        fs::create_directory_symlink("../../" + folder, sys / "dev/block" / number);
    }
    // A loop device over the image, at an offset in bytes, showing limit bytes (0: to the end).
    void Loop(const std::string& name, const std::string& number, int offset, int limit) {
        Device("devices/" + name, number, false);
        fs::create_directories(sys / "devices" / name / "loop");
        testsupport::WriteFile(sys / "devices" / name / "loop/backing_file", (dir / "image.img").string() + "\n");
        testsupport::WriteFile(sys / "devices" / name / "loop/offset", std::to_string(offset) + "\n");
        testsupport::WriteFile(sys / "devices" / name / "loop/sizelimit", std::to_string(limit) + "\n");
    }
    brelvox::disks::BlockTopology Topology() const { return brelvox::disks::BlockTopology(sys, dir / "proc"); }
    FileIdentity Identity(const fs::path& path) const {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return FileIdentity::Of(st);
    }

    testsupport::TempDir dir;
    const fs::path sys = dir / "sys";
};

FileIdentity BlockDevice(dev_t number) {
    return FileIdentity{makedev(0, 5), ino_t(number + 100), S_IFBLK | 0660, number};
}

// A file (or folder) on the file system of the given device.
Destination On(dev_t fileSystem) {
    return Destination{"dest", FileIdentity{fileSystem, 42, S_IFREG | 0644, 0}, fileSystem};
}

// Not there yet: only the folder that would hold it is known.
Destination NewOn(dev_t fileSystem) {
    return Destination{"dest", std::nullopt, fileSystem};
}

TEST_F(DestinationCheck, Topology) {
    const brelvox::disks::BlockTopology topology = Topology();
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 0)), makedev(8, 0));
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 2)), makedev(8, 0));
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 17)), makedev(8, 16));
    EXPECT_EQ(topology.WholeDiskOf(makedev(9, 9)), std::nullopt) << "unknown to sysfs";
    EXPECT_EQ(topology.SlavesOf(makedev(253, 0)), std::vector<dev_t>{makedev(8, 2)});
    EXPECT_EQ(topology.LoopBackingFile(makedev(7, 0)), (dir / "image.img").string());
    EXPECT_EQ(topology.LoopBackingFile(makedev(7, 1)), "");
    using Range = std::pair<std::uint64_t, std::uint64_t>;
    EXPECT_EQ(topology.PartitionRange(makedev(8, 2)), Range(2 << 20, 2 << 20));
    EXPECT_EQ(topology.PartitionRange(makedev(8, 0)), std::nullopt);
    EXPECT_EQ(topology.LoopRange(makedev(7, 2)), Range(1 << 20, 1 << 20));
    EXPECT_EQ(topology.LoopRange(makedev(7, 3)), Range(4 << 20, brelvox::disks::Extent::kToTheEnd));
    EXPECT_EQ(topology.NameOf(makedev(8, 17)), "sdb1");
    EXPECT_EQ(topology.NameOf(makedev(0, 40)), "fuse at /mnt/fuse");
    EXPECT_EQ(topology.NameOf(makedev(0, 49)), "0:49");
    EXPECT_EQ(topology.MountSource(makedev(0, 40)), (dir / "image.img").string());
    EXPECT_EQ(topology.MountSource(makedev(0, 41)), "") << "a source that is no path";
    EXPECT_EQ(topology.MountSource(makedev(0, 42)), "") << "not mounted";
}

TEST_F(DestinationCheck, Table) {
    const brelvox::disks::BlockTopology topology = Topology();
    const FileIdentity image = Identity(dir / "image.img");
    const dev_t tmp = image.dev;  // the real file system of the test's folder: unknown to the fake sysfs
    struct Case {
        const char* what;
        FileIdentity source;
        Destination destination;
        bool refused;
    };
    const Case cases[] = {
        {"an image file as its own list", image, Destination{"dest", image, image.dev}, true},
        {"another file beside the image", image, NewOn(tmp), false},
        {"a block device node as the list", image, Destination{"dest", BlockDevice(makedev(8, 16)), tmp}, true},
        // A character device is no disk: a terminal or /dev/null takes the list.
        {"a terminal as the list", image,
         Destination{"dest", FileIdentity{tmp, 7, S_IFCHR | 0620, makedev(136, 0)}, tmp}, false},
        {"/dev/null as the list of a scanned disk", BlockDevice(makedev(8, 0)),
         Destination{"dest", FileIdentity{makedev(0, 5), 4, S_IFCHR | 0666, makedev(1, 3)}, makedev(0, 5)}, false},
        {"the scanned disk node itself", BlockDevice(makedev(8, 0)),
         Destination{"dest", BlockDevice(makedev(8, 0)), tmp}, true},
        {"disk: a file on its partition", BlockDevice(makedev(8, 0)), On(makedev(8, 1)), true},
        {"disk: a new file on its partition", BlockDevice(makedev(8, 0)), NewOn(makedev(8, 2)), true},
        {"disk: a file on another disk", BlockDevice(makedev(8, 0)), On(makedev(8, 17)), false},
        {"disk: a volume mapped onto its partition", BlockDevice(makedev(8, 0)), On(makedev(253, 0)), true},
        {"partition: a file on it", BlockDevice(makedev(8, 1)), On(makedev(8, 1)), true},
        {"partition: a file on its sibling", BlockDevice(makedev(8, 1)), On(makedev(8, 2)), false},
        {"partition: a file on its whole disk", BlockDevice(makedev(8, 1)), On(makedev(8, 0)), true},
        {"partition: a volume mapped onto it", BlockDevice(makedev(8, 2)), On(makedev(253, 0)), true},
        {"partition: a volume mapped onto its sibling", BlockDevice(makedev(8, 1)), On(makedev(253, 0)), false},
        {"a device unknown to sysfs: itself", BlockDevice(makedev(9, 9)), On(makedev(9, 9)), true},
        {"a device unknown to sysfs: elsewhere", BlockDevice(makedev(9, 9)), On(makedev(8, 1)), false},
        {"loop device: its image as the list", BlockDevice(makedev(7, 0)), Destination{"dest", image, image.dev}, true},
        {"loop device: a file beside its image", BlockDevice(makedev(7, 0)), NewOn(tmp), false},
        {"image: a file system mounted from it", image, NewOn(makedev(7, 0)), true},
        {"image: another loop device", image, NewOn(makedev(7, 1)), false},
        {"a cycle of slaves ends", BlockDevice(makedev(8, 16)), On(makedev(253, 1)), false},
        // Loop devices are followed to their ranges of the image.
        {"loop device: a second loop device over its image", BlockDevice(makedev(7, 0)), NewOn(makedev(7, 5)), true},
        {"loop device: an offset loop device inside its image", BlockDevice(makedev(7, 0)), NewOn(makedev(7, 3)), true},
        {"image: an offset loop device inside it", image, NewOn(makedev(7, 2)), true},
        {"offset loop device: another that overlaps it", BlockDevice(makedev(7, 2)), NewOn(makedev(7, 4)), true},
        {"offset loop device: another past its end", BlockDevice(makedev(7, 2)), NewOn(makedev(7, 3)), false},
        {"offset loop device: the whole image's loop device", BlockDevice(makedev(7, 3)), NewOn(makedev(7, 0)), true},
        // A FUSE file system names its image in the mount table; it has no block device.
        {"image: a FUSE mount of it", image, NewOn(makedev(0, 40)), true},
        {"loop device: a FUSE mount of its image", BlockDevice(makedev(7, 0)), NewOn(makedev(0, 40)), true},
        {"offset loop device: a FUSE mount of its image", BlockDevice(makedev(7, 3)), On(makedev(0, 40)), true},
        {"image: a FUSE mount of something else", image, NewOn(makedev(0, 41)), false},
        {"partition: a FUSE mount of an image elsewhere", BlockDevice(makedev(8, 1)), NewOn(makedev(0, 40)), false},
    };
    for (const Case& c : cases) {
        const std::string problem = brelvox::disks::DestinationProblem(c.source, c.destination, topology);
        EXPECT_EQ(!problem.empty(), c.refused) << c.what << ": " << problem;
        if (!problem.empty()) {
            EXPECT_EQ(problem.find('\n'), std::string::npos);
        }
    }
}

// Writing into a file writes onto the device of its file system: a file system on a loop device (or a
// FUSE mount) over an image that lies on the scanned disk writes into that disk. The message names the
// way down.
TEST_F(DestinationCheck, AnImageOnTheScannedDiskCarriesItsFileSystems) {
    const FileIdentity image = Identity(dir / "image.img");
    Device("devices/vdz", std::to_string(major(image.dev)) + ":" + std::to_string(minor(image.dev)), false);
    const brelvox::disks::BlockTopology topology = Topology();
    const std::string viaLoop = brelvox::disks::DestinationProblem(BlockDevice(image.dev), NewOn(makedev(7, 3)), topology);
    EXPECT_EQ(viaLoop, "refusing to write to dest: it lies on the scanned source (loop3 > " + (dir / "image.img").string() +
                           " > vdz)");
    EXPECT_NE(brelvox::disks::DestinationProblem(BlockDevice(image.dev), NewOn(makedev(0, 40)), topology), "");
    EXPECT_EQ(brelvox::disks::DestinationProblem(BlockDevice(makedev(8, 16)), NewOn(makedev(7, 3)), topology), "");

    // The image itself named as the list of its loop device.
    const std::string itself = brelvox::disks::DestinationProblem(
        BlockDevice(makedev(7, 2)), Destination{"dest", image, image.dev}, topology);
    EXPECT_EQ(itself, "refusing to write to dest: it holds the scanned source (loop2 > " + (dir / "image.img").string() + ")");
}

TEST_F(DestinationCheck, LocatesWhatExistsOrItsFolder) {
    const FileIdentity image = Identity(dir / "image.img");
    auto there = brelvox::disks::LocateDestination((dir / "image.img").string());
    ASSERT_TRUE(there && there->itself);
    EXPECT_TRUE(there->itself->SameFile(image));

    auto fresh = brelvox::disks::LocateDestination((dir / "new/deeper/list.txt").string());
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->itself);
    EXPECT_EQ(fresh->fileSystem, image.dev);

    fs::create_symlink(dir / "image.img", dir / "link");
    auto linked = brelvox::disks::LocateDestination((dir / "link").string());
    ASSERT_TRUE(linked && linked->itself);
    EXPECT_TRUE(linked->itself->SameFile(image)) << "links are followed";

    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_FALSE(brelvox::disks::LocateDestination((dir / "dangling").string())) << "a link to nowhere is not guessed";
}

}  // namespace
