#include "support/LoopDevice.h"

#include "support/Fixtures.h"

namespace testsupport {

LoopDevice::LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly, bool partitions)
    : m_partitions(partitions) {
    std::string out;
    const std::string command = std::string("losetup -f --show ") + (readOnly ? "-r " : "") + (partitions ? "-P " : "") +
                                "--sector-size " + std::to_string(sectorSize) + " '" + image.string() + "' 2>/dev/null";
    if (RunCommand(command, &out) != 0) return;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    m_device = out;
    if (partitions && Partition(1).empty()) RunCommand("partx -a '" + m_device + "' >/dev/null 2>&1");
}

LoopDevice::~LoopDevice() {
    if (m_device.empty()) return;
    if (m_partitions) RunCommand("partx -d '" + m_device + "' >/dev/null 2>&1");
    RunCommand("losetup -d " + m_device);
}

std::string LoopDevice::Partition(int n) const {
    if (m_device.empty()) return "";
    const std::string node = m_device + "p" + std::to_string(n);
    std::error_code ec;
    return std::filesystem::is_block_file(node, ec) ? node : "";
}

}  // namespace testsupport
