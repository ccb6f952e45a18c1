// The refusal to write into what is scanned, over a fake sysfs tree: disks sda (8:0) with
// partitions sda1, sda2, disk sdb (8:16) with sdb1, a device-mapper volume dm-0 built on sda2, and loop
// devices loop0 (over an image file) and loop1 (no image).
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
        Device("devices/sda/sda1", "8:1", true);
        Device("devices/sda/sda2", "8:2", true);
        Device("devices/sdb", "8:16", false);
        Device("devices/sdb/sdb1", "8:17", true);
        Device("devices/dm-0", "253:0", false);
        fs::create_directories(sys / "devices/dm-0/slaves");
        fs::create_directory_symlink("../../sda/sda2", sys / "devices/dm-0/slaves/sda2");
        testsupport::WriteFile(dir / "image.img", "image");
        Device("devices/loop0", "7:0", false);
        fs::create_directories(sys / "devices/loop0/loop");
        testsupport::WriteFile(sys / "devices/loop0/loop/backing_file", (dir / "image.img").string() + "\n");
        Device("devices/loop1", "7:1", false);
        // A hostile tree: a slave that names its own device.
        Device("devices/dm-1", "253:1", false);
        fs::create_directories(sys / "devices/dm-1/slaves");
        fs::create_directory_symlink("../../dm-1", sys / "devices/dm-1/slaves/dm-1");
    }
    // The device's folder with its "dev" (and "partition") file, and its /sys/dev/block link.
    void Device(const std::string& folder, const std::string& number, bool partition) {
        fs::create_directories(sys / folder);
        testsupport::WriteFile(sys / folder / "dev", number + "\n");
        if (partition) testsupport::WriteFile(sys / folder / "partition", "1\n");
        fs::create_directories(sys / "dev/block");
        fs::create_directory_symlink("../../" + folder, sys / "dev/block" / number);
    }
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
    const brelvox::disks::BlockTopology topology(sys);
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 0)), makedev(8, 0));
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 2)), makedev(8, 0));
    EXPECT_EQ(topology.WholeDiskOf(makedev(8, 17)), makedev(8, 16));
    EXPECT_EQ(topology.WholeDiskOf(makedev(9, 9)), std::nullopt) << "unknown to sysfs";
    EXPECT_EQ(topology.SlavesOf(makedev(253, 0)), std::vector<dev_t>{makedev(8, 2)});
    EXPECT_EQ(topology.LoopBackingFile(makedev(7, 0)), (dir / "image.img").string());
    EXPECT_EQ(topology.LoopBackingFile(makedev(7, 1)), "");
}

TEST_F(DestinationCheck, Table) {
    const brelvox::disks::BlockTopology topology(sys);
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
    };
    for (const Case& c : cases) {
        const std::string problem = brelvox::disks::DestinationProblem(c.source, c.destination, topology);
        EXPECT_EQ(!problem.empty(), c.refused) << c.what << ": " << problem;
        if (!problem.empty()) {
            EXPECT_EQ(problem.find('\n'), std::string::npos);
        }
    }
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
