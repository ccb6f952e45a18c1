#include "support/ImageFileDevice.h"

#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

ImageFileDevice::ImageFileDevice(const std::filesystem::path& path, u32 sectorSize) : m_sectorSize(sectorSize) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    if (m_fd >= 0 && !error && sectorSize != 0) m_sectors = static_cast<i64>(bytes / sectorSize);
}

ImageFileDevice::~ImageFileDevice() {
    if (m_fd >= 0) ::close(m_fd);
    delete m_data;
}

void ImageFileDevice::SetPrivateData(IStorageDeviceData* data) {
    delete m_data;
    m_data = data;
}

int ImageFileDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    ++m_reads;
    if (onRead) onRead(firstSector, sectorCount);
    if (m_fd < 0 || !buffer || firstSector < 0 || sectorCount < 0 || firstSector > m_sectors ||
        sectorCount > m_sectors - firstSector)
        return 0;
    const size_t bytes = static_cast<size_t>(sectorCount) * m_sectorSize;
    const ssize_t got = ::pread(m_fd, buffer, bytes, static_cast<off_t>(firstSector) * m_sectorSize);
    return got == static_cast<ssize_t>(bytes) ? 1 : 0;
}

}  // namespace testsupport
