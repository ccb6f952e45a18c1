#include "platform/disks/FileSystemFlush.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <set>

namespace brelvox::disks {

namespace {

// Enough for any disk's partitions and the devices stacked on them; it also ends a cycle in a hostile
// sysfs tree.
constexpr size_t kMaxDevices = 256;

// The device and everything whose writes reach it: its partitions, and what is built on either.
std::set<dev_t> DevicesOn(dev_t device, const BlockTopology& topology) {
    std::set<dev_t> seen;
    std::vector<dev_t> pending{device};
    while (!pending.empty() && seen.size() < kMaxDevices) {
        const dev_t next = pending.back();
        pending.pop_back();
        if (!seen.insert(next).second) continue;
        for (dev_t partition : topology.PartitionsOf(next)) pending.push_back(partition);
        for (dev_t holder : topology.HoldersOf(next)) pending.push_back(holder);
    }
    return seen;
}

// The block device a mount comes from. Some file systems (btrfs) show an anonymous device number of
// major 0 in mountinfo: their source names the block device then.
bool MountedFrom(const MountEntry& mount, const std::set<dev_t>& devices) {
    if (devices.count(makedev(mount.major, mount.minor))) return true;
    if (mount.major != 0 || mount.source.empty() || mount.source[0] != '/') return false;
    struct stat st {};
    return ::stat(mount.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && devices.count(st.st_rdev);
}

}  // namespace

std::vector<MountEntry> FileSystemsOn(dev_t device, const KernelRoots& roots) {
    const std::set<dev_t> devices = DevicesOn(device, BlockTopology(roots.sys));
    std::vector<MountEntry> mounts = KernelDisks(roots).Mounts();
    mounts.erase(std::remove_if(mounts.begin(), mounts.end(),
                                [&](const MountEntry& m) { return !MountedFrom(m, devices); }),
                 mounts.end());
    return mounts;
}

int FlushFileSystemsOn(const std::string& path, const KernelRoots& roots) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
    // A file system mounted in several places is flushed once, through the first mount that opens.
    std::set<dev_t> flushed;
    for (const MountEntry& mount : FileSystemsOn(st.st_rdev, roots)) {
        const dev_t fileSystem = makedev(mount.major, mount.minor);
        if (flushed.count(fileSystem)) continue;
        const int fd = ::open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat at {};
        // Another file system mounted over the mount point hides this one.
        if (::fstat(fd, &at) == 0 && at.st_dev == fileSystem && ::syncfs(fd) == 0) flushed.insert(fileSystem);
        ::close(fd);
    }
    // A file system writes its blocks past the device's own page cache, which may still hold the copies
    // that an earlier raw read of them cached: those clean pages are dropped, so the next read sees the
    // device. Nothing is written by this.
    if (!flushed.empty()) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
    return static_cast<int>(flushed.size());
}

}  // namespace brelvox::disks
