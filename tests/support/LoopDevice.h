// A loop device over an image file, detached when the object ends; empty when the machine cannot make
// one (no root, no loop devices, or a losetup without --sector-size).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport {

class LoopDevice {
public:
    // partitions: the kernel is asked to show the partitions of the image (losetup -P, then partx -a where
    // losetup alone does not). offset and sizeLimit (bytes; 0 = to the end) show a range of the image,
    // as losetup -o and --sizelimit make one.
    LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly, bool partitions = false,
               std::uint64_t offset = 0, std::uint64_t sizeLimit = 0);
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
    int m_lock = -1;  // a shared hold of the machine's loop devices, while the device is attached
};

// While one lives, no other test process attaches or detaches a loop device through LoopDevice (those
// that would wait): a test that watches the kernel's block events then sees only its own devices. The
// suites of a parallel run attach and detach theirs meanwhile otherwise, and a device number one of
// them just gave back may be the next one handed out. Waits at most `wait` for the devices in use
// elsewhere to be given back, then goes on without the hold (Held() tells).
class ExclusiveLoopDevices {
public:
    explicit ExclusiveLoopDevices(std::chrono::seconds wait = std::chrono::seconds(120));
    ~ExclusiveLoopDevices();
    ExclusiveLoopDevices(const ExclusiveLoopDevices&) = delete;
    ExclusiveLoopDevices& operator=(const ExclusiveLoopDevices&) = delete;
    bool Held() const { return m_lock >= 0; }

private:
    int m_lock = -1;
};

}  // namespace testsupport
