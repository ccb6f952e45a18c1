// Mounts and unmounts: a source of the mount table that says when it may have changed (the kernel's
// /proc/self/mountinfo in the program, a fake in tests), and a tracker that turns successive tables
// into the file systems that were mounted and unmounted.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/disks/KernelDisks.h"

namespace brelvox::disks {

// A source of the mount table. Not thread-safe: one thread (the main loop) uses it.
class IMountSource {
public:
    virtual ~IMountSource() = default;
    // A descriptor that becomes readable when the table may have changed; valid for the source's life.
    virtual int Descriptor() const = 0;
    // The table now, in the kernel's order. Reading it ends the descriptor's readiness.
    virtual std::vector<MountEntry> Mounts() = 0;
};

// The mount table of this process's namespace. The kernel signals a change of mountinfo as an
// exceptional condition, not as data to read, so the descriptor handed out is an epoll instance that
// turns it into readability. Nothing, with the reason in error, when the file cannot be watched.
std::unique_ptr<IMountSource> CreateMountInfoSource(std::string& error,
                                                    const std::filesystem::path& path = "/proc/self/mountinfo");

struct MountChanges {
    std::vector<MountEntry> mounted;    // in table order
    std::vector<MountEntry> unmounted;  // in the order of the previous table
};

// Compares successive tables. A mount is known by its device, subtree and mount point, so a file
// system mounted again elsewhere, or another one mounted over the same folder, is a change.
class MountTableTracker {
public:
    // Takes the table at start (nothing is reported for it).
    void Prime(const std::vector<MountEntry>& table);
    MountChanges Take(const std::vector<MountEntry>& table);

private:
    using Key = std::tuple<std::uint32_t, std::uint32_t, std::string, std::string>;
    static Key KeyOf(const MountEntry& entry);

    std::vector<MountEntry> m_table;
};

// A mount of a file system held on a block device (not a pseudo or memory file system): the
// volumes a user sees come and go.
bool IsBlockDeviceMount(const MountEntry& entry);

}  // namespace brelvox::disks
