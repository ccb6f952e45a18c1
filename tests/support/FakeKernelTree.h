// A fake kernel view of block devices (sysfs, mountinfo, udev database and device nodes) built in a
// folder, so the disk enumeration can be tested without real disks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/disks/KernelDisks.h"

namespace testsupport {

class FakeKernelTree {
public:
    struct Disk {
        std::string name;
        std::uint32_t major = 8;
        std::uint32_t minor = 0;
        std::uint64_t size512 = 0;  // size in 512-byte units, as the kernel writes it
        std::uint32_t blockSize = 512;
        bool removable = false;
        bool readOnly = false;
        std::string vendor{};
        std::string model{};
        int scsiType = -1;                // device/type when not negative (5 = optical)
        std::vector<std::string> udev{};  // "KEY=VALUE" properties
    };
    struct Partition {
        std::string disk;
        std::string name;
        int number = 1;
        std::uint32_t major = 8;
        std::uint32_t minor = 1;
        std::uint64_t start512 = 0;
        std::uint64_t size512 = 0;
        std::vector<std::string> udev{};
    };

    explicit FakeKernelTree(std::filesystem::path root);

    brelvox::disks::KernelRoots Roots() const;
    void AddDisk(const Disk& disk);
    void AddPartition(const Partition& partition);
    // A mountinfo line; mountPoint is written as given (escape blanks as "\040" to mimic the kernel).
    void AddMount(std::uint32_t major, std::uint32_t minor, const std::string& mountPoint,
                  const std::string& fsType = "vfat", const std::string& root = "/");
    // Writes a raw mountinfo line.
    void AddMountLine(const std::string& line);
    // The device node of a device (a plain file standing for it), created empty when missing.
    std::filesystem::path Node(const std::string& name) const;
    // Makes the device node a file of the given size (sparse).
    std::filesystem::path MakeNode(const std::string& name, std::uint64_t bytes) const;

private:
    void WriteUdev(std::uint32_t major, std::uint32_t minor, const std::vector<std::string>& properties);

    std::filesystem::path m_root;
    int m_mountId = 20;
};

}  // namespace testsupport
