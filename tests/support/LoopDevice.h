// A loop device over an image file, detached when the object ends; empty when the machine cannot make
// one (no root, no loop devices, or a losetup without --sector-size).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class LoopDevice {
public:
    LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    // The device node (/dev/loopN), or empty.
    const std::string& Device() const { return m_device; }
    bool empty() const { return m_device.empty(); }

private:
    std::string m_device;
};

}  // namespace testsupport
