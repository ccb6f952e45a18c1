#include "engine/StorageDevice/ReadOnlyFileDevice.h"

#include <unistd.h>

#include <cerrno>

#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/SectorMath.h"
#include "platform/disks/BlockDevice.h"

CReadOnlyFileDevice::CReadOnlyFileDevice(const char* path, const storage_codes::DeviceCodes& codes)
    : m_codes(codes), m_path(path ? path : "") {}

CReadOnlyFileDevice::~CReadOnlyFileDevice() {
    Close();
    delete m_privateData;
}

int CReadOnlyFileDevice::OpenStoredPath() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    int fd = platform::disks::OpenReadOnly(m_path.c_str());
    if (fd < 0) {
        int error = errno;
        m_lastError = m_codes.open;
        return error;
    }
    m_fd = fd;
    return 0;
}

int CReadOnlyFileDevice::Close() {
    if (m_fd < 0) return 0;
    ::close(m_fd);
    m_fd = -1;
    return 1;
}

int CReadOnlyFileDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    m_lastError = 0;
    i64 offset = 0;
    i64 length = 0;
    if (!buffer || firstSector < 0 || sectorCount <= 0 || !AcceptsRead(firstSector) ||
        !sector_math::ByteRange(firstSector, sectorCount, m_sectorSize, m_dataOffset, &offset, &length)) {
        m_lastError = m_codes.badArgument;
        return 0;
    }
    if (KXReadAsyncData(buffer, m_fd, offset, length) > 0) return 1;
    m_lastError = m_codes.read;
    OnReadFailed();
    return 0;
}

int CReadOnlyFileDevice::IOCtl(u64 /*code*/, void* /*data*/) {
    m_lastError = m_codes.ioctl;
    return 0;
}

void CReadOnlyFileDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data != m_privateData) delete m_privateData;
    m_privateData = data;
    TakeRecord(data);
}
