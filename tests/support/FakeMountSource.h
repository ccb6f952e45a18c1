// A mount-table source fed by the test: SetTable replaces the table and makes the descriptor readable,
// as a change of the kernel's mount table does, until Mounts reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/disks/MountEvents.h"

namespace testsupport {

class FakeMountSource final : public brelvox::disks::IMountSource {
public:
    FakeMountSource();
    ~FakeMountSource() override;
    FakeMountSource(const FakeMountSource&) = delete;
    FakeMountSource& operator=(const FakeMountSource&) = delete;

    int Descriptor() const override { return m_fd; }
    std::vector<brelvox::disks::MountEntry> Mounts() override;

    void SetTable(std::vector<brelvox::disks::MountEntry> table);
    size_t Reads() const { return m_reads; }

    // A mount of a block device (major 8) or of a memory file system (major 0) at mountPoint.
    static brelvox::disks::MountEntry Volume(const std::string& mountPoint, std::uint32_t minor,
                                             const std::string& fsType = "vfat");
    static brelvox::disks::MountEntry Pseudo(const std::string& mountPoint, const std::string& fsType = "tmpfs");

private:
    int m_fd = -1;
    std::vector<brelvox::disks::MountEntry> m_table;
    size_t m_reads = 0;
};

}  // namespace testsupport
