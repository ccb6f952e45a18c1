// The check that keeps every writer (the driver's list and copies, the recovery, save and image
// operations) from writing into what is scanned: a destination file or folder is refused when it is
// the source, a block device, or lies on the scanned device (directly, on a partition of a scanned
// disk, on the disk of a scanned partition, through device-mapper or md, or in a file system whose
// loop image is the source). A character device such as /dev/null is no disk and may be written.
// Sysfs is read from a configurable root for tests.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

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

// The kernel's block-device topology, by device number, from <sys>/dev/block/MAJ:MIN.
class BlockTopology {
public:
    explicit BlockTopology(std::filesystem::path sysRoot = "/sys") : m_sys(std::move(sysRoot)) {}

    // The whole disk that holds device: itself for a whole disk; nothing when sysfs does not know it.
    std::optional<dev_t> WholeDiskOf(dev_t device) const;
    // The devices a mapped device (device-mapper, md) is built on.
    std::vector<dev_t> SlavesOf(dev_t device) const;
    // The file behind a loop device; empty for any other device.
    std::string LoopBackingFile(dev_t device) const;
    // The partitions of a whole disk (none for a partition or an unknown device).
    std::vector<dev_t> PartitionsOf(dev_t device) const;
    // The devices built on device (device-mapper, md): the other way from SlavesOf.
    std::vector<dev_t> HoldersOf(dev_t device) const;

private:
    std::filesystem::path Folder(dev_t device) const;
    // The devices named in one of the device's folders of links ("slaves", "holders").
    std::vector<dev_t> Linked(dev_t device, const char* list) const;
    std::filesystem::path m_sys;
};

// Why writing at destination could write into the source; empty when it cannot. source is the
// scanned path's identity (links followed).
std::string DestinationProblem(const FileIdentity& source, const Destination& destination,
                               const BlockTopology& topology);

// The destination as it is on this system: the path itself when it exists, else the nearest
// existing folder above it. Nothing when the path is a dangling link (its target is unknown).
std::optional<Destination> LocateDestination(const std::string& path);

}  // namespace brelvox::disks
