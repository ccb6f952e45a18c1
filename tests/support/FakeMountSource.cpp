#include "support/FakeMountSource.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

using brelvox::disks::MountEntry;

FakeMountSource::FakeMountSource() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (m_fd < 0) throw std::runtime_error("eventfd failed");
}

FakeMountSource::~FakeMountSource() { close(m_fd); }

std::vector<MountEntry> FakeMountSource::Mounts() {
    ++m_reads;
    std::uint64_t count = 0;
    (void)!read(m_fd, &count, sizeof count);  // clears the readable state; EAGAIN when nothing changed
    return m_table;
}

void FakeMountSource::SetTable(std::vector<MountEntry> table) {
    m_table = std::move(table);
    const std::uint64_t one = 1;
    (void)!write(m_fd, &one, sizeof one);
}

MountEntry FakeMountSource::Volume(const std::string& mountPoint, std::uint32_t minor, const std::string& fsType) {
    MountEntry entry;
    entry.major = 8;
    entry.minor = minor;
    entry.root = "/";
    entry.mountPoint = mountPoint;
    entry.fsType = fsType;
    entry.source = "/dev/sd" + std::string(1, static_cast<char>('a' + minor / 16)) + std::to_string(minor % 16);
    return entry;
}

MountEntry FakeMountSource::Pseudo(const std::string& mountPoint, const std::string& fsType) {
    MountEntry entry;
    entry.root = "/";
    entry.mountPoint = mountPoint;
    entry.fsType = fsType;
    entry.source = fsType;
    return entry;
}

}  // namespace testsupport
