// Which file systems a scan flushes before it reads a device raw: over a fake sysfs tree and mountinfo
// (disk sda with partitions sda1 and sda2, a device-mapper volume dm-0 built on sda2, disk sdb with
// sdb1, a hostile dm-1 that holds itself), and on a real loop device as root.
#include "platform/disks/FileSystemFlush.h"

#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopDevice.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using brelvox::disks::FileSystemsOn;
using brelvox::disks::KernelRoots;

class FlushTopology : public ::testing::Test {
protected:
    void SetUp() override {
        Device("devices/sda", "8:0", false);
        Device("devices/sda/sda1", "8:1", true);
        Device("devices/sda/sda2", "8:2", true);
        Device("devices/sdb", "8:16", false);
        Device("devices/sdb/sdb1", "8:17", true);
        Device("devices/dm-0", "253:0", false);
        Link("devices/sda/sda2/holders/dm-0", "../../../dm-0");
        Device("devices/dm-1", "253:1", false);
        Link("devices/dm-1/holders/dm-1", "../../dm-1");
        fs::create_directories(dir / "proc/self");
        std::string mountinfo;
        int id = 20;
        for (const char* line : {"8:1 / /media/one rw - vfat /dev/sda1 rw", "253:0 / /media/mapped rw - ext4 /dev/dm-0 rw",
                                 "253:0 /sub /media/bound rw - ext4 /dev/dm-0 rw", "8:17 / /media/other rw - exfat /dev/sdb1 rw",
                                 "0:30 / /proc rw - proc proc rw", "253:1 / /media/loopy rw - ext4 /dev/dm-1 rw"})
            mountinfo += std::to_string(id++) + " 1 " + line + "\n";
        testsupport::WriteFile(dir / "proc/self/mountinfo", mountinfo);
    }
    void Device(const std::string& folder, const std::string& number, bool partition) {
        fs::create_directories(sys / folder);
        testsupport::WriteFile(sys / folder / "dev", number + "\n");
        if (partition) testsupport::WriteFile(sys / folder / "partition", "1\n");
        fs::create_directories(sys / "dev/block");
        fs::create_directory_symlink("../../" + folder, sys / "dev/block" / number);
    }
    void Link(const std::string& at, const std::string& target) {
        fs::create_directories((sys / at).parent_path());
        fs::create_directory_symlink(target, sys / at);
    }
    std::vector<std::string> MountPointsOn(dev_t device) const {
        KernelRoots roots;
        roots.sys = sys;
        roots.proc = dir / "proc";
        std::vector<std::string> points;
        for (const auto& mount : FileSystemsOn(device, roots)) points.push_back(mount.mountPoint);
        std::sort(points.begin(), points.end());
        return points;
    }

    testsupport::TempDir dir;
    const fs::path sys = dir / "sys";
};

TEST_F(FlushTopology, FileSystemsOnEachDevice) {
    struct Case {
        const char* what;
        dev_t device;
        std::vector<std::string> points;
    };
    const Case cases[] = {
        {"a whole disk: its partitions and what is built on them", makedev(8, 0),
         {"/media/bound", "/media/mapped", "/media/one"}},
        {"a partition: its own file system", makedev(8, 1), {"/media/one"}},
        {"a partition under a mapped volume: the volume's mounts", makedev(8, 2), {"/media/bound", "/media/mapped"}},
        {"another disk", makedev(8, 16), {"/media/other"}},
        {"a device holding itself: its mount once, the walk ends", makedev(253, 1), {"/media/loopy"}},
        {"a device sysfs does not know: only mounts of its own number", makedev(9, 9), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(MountPointsOn(c.device), c.points) << c.what;
}

TEST(FileSystemFlush, NothingForWhatIsNoBlockDevice) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "image.img", std::string(4096, 'x'));
    EXPECT_EQ(brelvox::disks::FlushFileSystemsOn((dir / "image.img").string()), 0) << "an image file";
    EXPECT_EQ(brelvox::disks::FlushFileSystemsOn((dir / "missing").string()), 0);
    EXPECT_EQ(brelvox::disks::FlushFileSystemsOn("/dev/null"), 0) << "a character device";
}

// A file written to a mounted ext4 volume is on the loop device, for a raw read, once the flush ran, even
// where a raw read before the write had cached the blocks it went to.
TEST(FileSystemFlush, MountedLoopDeviceWriteReachesTheDevice) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a loop device";
    testsupport::TempDir dir;
    const fs::path image = dir / "volume.img";
    {
        testsupport::WriteFile(image, "");
        fs::resize_file(image, 16 << 20);
    }
    const std::string mkfs = "mkfs.ext4 -q -F '" + image.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(mkfs.c_str()), 0) << mkfs;
    testsupport::LoopDevice loop(image, 512, false);
    if (loop.empty()) GTEST_SKIP() << "no loop device";
    const fs::path mountPoint = dir / "mnt";
    fs::create_directories(mountPoint);
    ASSERT_EQ(::mount(loop.Device().c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0) << std::strerror(errno);
    // Unmounted before the loop device is detached, whatever fails below.
    const std::unique_ptr<const char, void (*)(const char*)> mounted(mountPoint.c_str(),
                                                                     [](const char* at) { ::umount2(at, MNT_DETACH); });
    // An earlier scan read the whole device: its cache holds the blocks the file will take.
    ASSERT_EQ(testsupport::ReadFile(loop.Device()).size(), size_t(16) << 20);
    // A pattern that nothing on a fresh volume holds, in a file left dirty in the page cache.
    std::string marker(64 * 1024, '\0');
    for (size_t i = 0; i < marker.size(); ++i) marker[i] = static_cast<char>("flushed-by-the-scan"[i % 19]);
    testsupport::WriteFile(mountPoint / "recent.bin", marker);

    const int flushed = brelvox::disks::FlushFileSystemsOn(loop.Device());
    // Read as a scan reads it: through the device node.
    const std::string raw = testsupport::ReadFile(loop.Device());

    EXPECT_EQ(flushed, 1);
    EXPECT_NE(raw.find(marker), std::string::npos) << "the write is not on the device after the flush";
}

}  // namespace
