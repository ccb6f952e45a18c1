// A loop device over an image file, detached when the object ends; empty when the machine cannot make
// one (no root, no loop devices, or a losetup without --sector-size).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class LoopDevice {
public:
    // partitions: the kernel is asked to show the partitions of the image (losetup -P, then partx -a where
    // losetup alone does not).
    LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly, bool partitions = false);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    // The device node (/dev/loopN), or empty.
    const std::string& Device() const { return m_device; }
    bool empty() const { return m_device.empty(); }
    // The node of partition n (/dev/loopNpn), or empty when the kernel shows none.
    std::string Partition(int n) const;

private:
    std::string m_device;
    bool m_partitions = false;
};

}  // namespace testsupport
