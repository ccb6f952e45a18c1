// The kernel's view of block devices: whole disks and their partitions from /sys/class/block, mount
// points from /proc/self/mountinfo and udev properties from /run/udev/data. Every root is configurable
// so tests can point the reader at a fake tree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brelvox::disks {

struct KernelRoots {
    std::filesystem::path sys{"/sys"};
    std::filesystem::path proc{"/proc"};
    std::filesystem::path udev{"/run/udev"};
    std::filesystem::path dev{"/dev"};  // where the device nodes are opened
    // Free bytes of the file system mounted at a path; empty: statvfs asks the system.
    std::function<std::uint64_t(const std::string& mountPoint)> freeSpace;
};

// Bus kinds, numbered as the device list expects them.
enum BusKind : std::uint32_t {
    kBusUnknown = 0,
    kBusATA = 1,
    kBusSATA = 2,
    kBusSCSI = 3,
    kBusUSB = 4,
    kBusVirtual = 5,
};

// Partition schemes, numbered as the partition-table reader numbers them.
enum PartitionSchemeKind : std::uint32_t {
    kSchemeNone = 0,
    kSchemeMBR = 1,
    kSchemeGPT = 2,
    kSchemeAPM = 3,
};

// Facts about one disk or partition.
struct BlockDevice {
    std::string name;  // kernel name: "sda", "sda1", "nvme0n1p2", "loop3"
    std::string disk;  // the whole disk's kernel name (the device's own name for a disk)
    bool whole = true;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    dev_t number = 0;                      // makedev(major, minor): compares with st_dev
    std::uint64_t size512 = 0;             // the kernel counts sizes in 512-byte units, whatever the block size
    std::uint32_t logicalBlockSize = 512;  // a power of two from 512 to 65536
    bool removable = false;
    bool readOnly = false;
    int partitionNumber = -1;    // -1 for a whole disk
    std::uint64_t start512 = 0;  // partitions: start on the disk in 512-byte units (0 when unknown)
    std::uint32_t bus = kBusUnknown;
    std::string vendor;
    std::string model;
    std::map<std::string, std::string> properties;  // udev properties ("ID_BUS", "ID_FS_TYPE", ...)

    std::uint64_t SizeBytes() const { return size512 * 512; }
    // Size and start counted in logical blocks.
    std::int64_t TotalSectors() const;
    std::int64_t StartSector() const;
    // A udev property, empty when missing.
    std::string Property(const std::string& key) const;
    // File-system type and label as udev found them (label decoded from its escaped form).
    std::string FsType() const { return Property("ID_FS_TYPE"); }
    std::string FsLabel() const;
    // Partition scheme of a disk as udev found it ("gpt", "dos", "mac").
    PartitionSchemeKind PartitionScheme() const;
    // A readable name: vendor and model, or the kernel name.
    std::string DisplayName() const;
};

// The name and node of the volume an APFS container holds.
struct ApfsVolumeName {
    std::string name;
    std::string identifier;  // kernel name of the node through which the volume is reached
};

// One line of mountinfo.
struct MountEntry {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string root;        // the mounted subtree of the file system ("/" for a whole mount)
    std::string mountPoint;  // unescaped
    std::string fsType;
    std::string source;
};

class KernelDisks {
public:
    explicit KernelDisks(KernelRoots roots = {});

    // Whole disks that can hold data, by kernel name; optical drives, RAM disks and zram are left out.
    std::vector<BlockDevice> Disks() const;
    // Partitions of one whole disk, by partition number.
    std::vector<BlockDevice> Partitions(const std::string& disk) const;
    // A disk or partition by kernel name.
    std::optional<BlockDevice> Find(const std::string& name) const;

    std::vector<MountEntry> Mounts() const;
    // Where the device is mounted (a mount of its whole file system preferred), empty when it is not.
    std::string MountPoint(std::uint32_t major, std::uint32_t minor) const;

    // The first volume of the APFS container on the named device, as far as the udev database knows it
    // (Linux has no APFS driver, so usually nothing). Looked up afresh on every call; nothing is cached.
    std::optional<ApfsVolumeName> FindApfsVolume(const std::string& name) const;

    // Bytes free to an unprivileged user on the file system mounted at mountPoint; 0 for an empty
    // mount point or one that cannot be asked.
    std::uint64_t FreeBytes(const std::string& mountPoint) const;

    // The node through which the device is opened: the dev root + "/" + kernel name.
    std::string DevicePath(const std::string& name) const;
    const KernelRoots& Roots() const { return m_roots; }

    // Media the list never offers (optical drives, RAM disks, zram).
    static bool IsSkippedMedium(const std::string& name, const std::filesystem::path& sysDir);

private:
    std::optional<BlockDevice> ReadDevice(const std::filesystem::path& dir, const std::string& name,
                                          const std::string& disk, bool whole) const;
    std::map<std::string, std::string> ReadUdev(std::uint32_t major, std::uint32_t minor) const;

    KernelRoots m_roots;
};

// Helpers, public for tests.
// The bytes of a small file (sysfs, proc, udev data), at most limit of them; nothing when it cannot be
// opened.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, std::size_t limit = 1 << 20);
// Undoes the octal escapes of mountinfo fields ("\040" is a blank).
std::string UnescapeMountField(std::string_view field);
// Parses one mountinfo line; nothing when it is malformed.
std::optional<MountEntry> ParseMountInfoLine(std::string_view line);
// The "E:KEY=VALUE" properties of a udev database file.
std::map<std::string, std::string> ParseUdevData(std::string_view content);
// Undoes udev's "\xNN" escapes (ID_FS_LABEL_ENC and friends).
std::string DecodeUdevEscapes(std::string_view text);
// The bus kind from udev properties and the resolved sysfs path of the device.
std::uint32_t BusKindOf(const std::map<std::string, std::string>& properties, const std::string& name,
                        const std::string& devicePath);

}  // namespace brelvox::disks
