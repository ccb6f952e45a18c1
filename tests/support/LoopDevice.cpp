#include "support/LoopDevice.h"

#include "support/Fixtures.h"

namespace testsupport {

LoopDevice::LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly) {
    std::string out;
    const std::string command = std::string("losetup -f --show ") + (readOnly ? "-r " : "") + "--sector-size " +
                                std::to_string(sectorSize) + " '" + image.string() + "' 2>/dev/null";
    if (RunCommand(command, &out) != 0) return;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    m_device = out;
}

LoopDevice::~LoopDevice() {
    if (!m_device.empty()) RunCommand("losetup -d " + m_device);
}

}  // namespace testsupport
