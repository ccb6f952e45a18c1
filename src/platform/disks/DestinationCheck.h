// The check that keeps every writer (the driver's list and copies, the recovery, save and image
// operations) from writing into what is scanned. Both sides are followed down to the bytes beneath
// them: a partition to its range of the whole disk, a loop device to its range (offset and size
// limit) of its backing file or device, a mapped device (device-mapper, md) to the devices it is built
// on, a file system that sysfs does not know (FUSE, btrfs) to the source that mountinfo names for it,
// and, on the destination's side, a file to the file system that holds it. A destination is refused
// when any range beneath it meets a range beneath the scanned source, when it is the source itself, or
// when it is a block device. A character device such as /dev/null is no disk and may be written.
// Sysfs and mountinfo are read from configurable roots for tests.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brelvox::disks {

// What stat (links followed) says about a path.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;
    dev_t rdev = 0;

    static FileIdentity Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mode, st.st_rdev}; }
    bool SameFile(const FileIdentity& other) const { return dev == other.dev && ino == other.ino; }
    bool IsBlockDevice() const { return S_ISBLK(mode); }
};

// Where a destination's bytes would go.
struct Destination {
    std::string name;                    // as the user gave it, for the message
    std::optional<FileIdentity> itself;  // the destination when it exists
    dev_t fileSystem = 0;                // the device of the file system that holds it (or would)
};

// A range of bytes of one block device or of one file.
struct Extent {
    static constexpr std::uint64_t kToTheEnd = UINT64_MAX;

    bool file = false;   // a file (device and inode) rather than a block device (device)
    dev_t device = 0;    // the block device's number, or the file's st_dev
    ino_t inode = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = kToTheEnd;
    std::string name;  // how it was reached ("loop3 > /srv/disk.img"), for the message

    bool Overlaps(const Extent& other) const;
};

// The kernel's block-device topology, by device number, from <sys>/dev/block/MAJ:MIN, and the mounts
// of <proc>/self/mountinfo.
class BlockTopology {
public:
    explicit BlockTopology(std::filesystem::path sysRoot = "/sys", std::filesystem::path procRoot = "/proc")
        : m_sys(std::move(sysRoot)), m_proc(std::move(procRoot)) {}

    // Whether sysfs knows the block device.
    bool Knows(dev_t device) const;
    // The kernel's name of the device ("sda1"); for a file system without one, its type and mount point
    // ("fuse at /mnt/image"); else "MAJ:MIN".
    std::string NameOf(dev_t device) const;
    // The whole disk that holds device: itself for a whole disk; nothing when sysfs does not know it.
    std::optional<dev_t> WholeDiskOf(dev_t device) const;
    // Where a partition lies on its whole disk, in bytes (offset, length); nothing for a whole disk.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> PartitionRange(dev_t device) const;
    // The devices a mapped device (device-mapper, md) is built on.
    std::vector<dev_t> SlavesOf(dev_t device) const;
    // The file behind a loop device; empty for any other device.
    std::string LoopBackingFile(dev_t device) const;
    // Where a loop device's bytes begin in its backing file and how many it shows (offset, size limit;
    // the limit is Extent::kToTheEnd when the device reaches the file's end).
    std::pair<std::uint64_t, std::uint64_t> LoopRange(dev_t device) const;
    // The source mountinfo names for a file system of this device number when it is a path (a FUSE
    // mount of an image file, the device of a btrfs volume); empty otherwise.
    std::string MountSource(dev_t device) const;
    // The partitions of a whole disk (none for a partition or an unknown device).
    std::vector<dev_t> PartitionsOf(dev_t device) const;
    // The devices built on device (device-mapper, md): the other way from SlavesOf.
    std::vector<dev_t> HoldersOf(dev_t device) const;

private:
    std::filesystem::path Folder(dev_t device) const;
    // The devices named in one of the device's folders of links ("slaves", "holders").
    std::vector<dev_t> Linked(dev_t device, const char* list) const;
    std::filesystem::path m_sys;
    std::filesystem::path m_proc;
};

// The ranges a scan of source reads (source is the scanned path's identity, links followed): a file
// itself; a block device with every range beneath it.
std::vector<Extent> ScannedExtents(const FileIdentity& source, const BlockTopology& topology);

// The ranges that writing at destination can reach: the destination file itself, its file system's
// device and every range beneath that.
std::vector<Extent> DestinationExtents(const Destination& destination, const BlockTopology& topology);

// Why writing at destination could write into the source; empty when it cannot.
std::string DestinationProblem(const FileIdentity& source, const Destination& destination,
                               const BlockTopology& topology);

// The destination as it is on this system: the path itself when it exists, else the nearest
// existing folder above it. Nothing when the path is a dangling link (its target is unknown).
std::optional<Destination> LocateDestination(const std::string& path);

// Why writing at path could write into source; empty when it cannot. A path whose target cannot be
// told (a dangling link) is refused.
std::string WriteProblem(const FileIdentity& source, const std::string& path, const BlockTopology& topology);
// The same for the file or device at sourcePath (links followed); empty when there is none.
std::string WriteProblem(const std::string& sourcePath, const std::string& path, const BlockTopology& topology);

}  // namespace brelvox::disks
