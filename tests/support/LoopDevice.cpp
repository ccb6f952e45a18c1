#include "support/LoopDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/Fixtures.h"

namespace testsupport {
namespace {

// One lock file for every test process of the machine; each holder opens it anew, since a lock
// belongs to an open file.
int OpenLock() {
    return open("/tmp/brelvox-test-loop-devices.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

// This process holds the devices for itself: its own devices take no shared hold (which would wait
// for that very hold).
std::atomic<bool> g_exclusive{false};

// Whether the kernel shows partitions of the loop device now (folders with a "partition" file in its
// sysfs folder).
bool HasPartitions(const std::string& device) {
    const std::string name = std::filesystem::path(device).filename().string();
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/sys/block/" + name, ec), end; !ec && it != end; it.increment(ec))
        if (std::filesystem::exists(it->path() / "partition", ec)) return true;
    return false;
}

// Drops the kernel's partitions of the device. A partition just written is busy a moment while udev
// probes it, and a partition added by hand outlives the detach: left behind, it would be listed under
// the next image attached at that device number.
void DropPartitions(const std::string& device) {
    for (int attempt = 0; attempt < 50 && HasPartitions(device); ++attempt) {
        if (attempt > 0) {
            RunCommand("udevadm settle -t 2 >/dev/null 2>&1");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        RunCommand("partx -d '" + device + "' >/dev/null 2>&1");
    }
}

}  // namespace

ExclusiveLoopDevices::ExclusiveLoopDevices(std::chrono::seconds wait) {
    const int fd = OpenLock();
    if (fd < 0) return;
    const auto until = std::chrono::steady_clock::now() + wait;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= until) {
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_lock = fd;
    g_exclusive = true;
}

ExclusiveLoopDevices::~ExclusiveLoopDevices() {
    if (m_lock < 0) return;
    g_exclusive = false;
    close(m_lock);
}

LoopDevice::LoopDevice(const std::filesystem::path& image, unsigned sectorSize, bool readOnly, bool partitions,
                       std::uint64_t offset, std::uint64_t sizeLimit)
    : m_partitions(partitions) {
    if (!g_exclusive) {
        m_lock = OpenLock();
        if (m_lock >= 0 && flock(m_lock, LOCK_SH) != 0) {
            close(m_lock);
            m_lock = -1;
        }
    }
    std::string out;
    const std::string command = std::string("losetup -f --show ") + (readOnly ? "-r " : "") + (partitions ? "-P " : "") +
                                (offset ? "-o " + std::to_string(offset) + " " : std::string()) +
                                (sizeLimit ? "--sizelimit " + std::to_string(sizeLimit) + " " : std::string()) +
                                "--sector-size " + std::to_string(sectorSize) + " '" + image.string() + "' 2>/dev/null";
    if (RunCommand(command, &out) != 0) return;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    m_device = out;
    if (partitions && Partition(1).empty()) RunCommand("partx -a '" + m_device + "' >/dev/null 2>&1");
    // Partitions an earlier user of this device number left behind are none of this image's.
    if (!partitions) DropPartitions(m_device);
}

LoopDevice::~LoopDevice() {
    if (!m_device.empty()) {
        if (m_partitions) DropPartitions(m_device);
        RunCommand("losetup -d " + m_device);
    }
    // Given back only once the device is detached.
    if (m_lock >= 0) close(m_lock);
}

std::string LoopDevice::Partition(int n) const {
    if (m_device.empty()) return "";
    const std::string node = m_device + "p" + std::to_string(n);
    std::error_code ec;
    return std::filesystem::is_block_file(node, ec) ? node : "";
}

}  // namespace testsupport
