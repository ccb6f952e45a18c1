#include "engine/StorageDevice/RawNodeDevice.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/SectorMath.h"
#include "platform/disks/BlockDevice.h"

namespace {
std::atomic<std::chrono::milliseconds::rep> g_reOpenPauseMs{1000};
constexpr int kReOpenAttempts = 3;
}  // namespace

CRawNodeDevice::CRawNodeDevice(const char* path, const storage_codes::DeviceCodes& codes)
    : m_codes(codes), m_devicePath(path ? path : "") {}

CRawNodeDevice::~CRawNodeDevice() {
    Close();
    delete m_privateData;
}

void CRawNodeDevice::SetReOpenPause(std::chrono::milliseconds pause) { g_reOpenPauseMs = pause.count(); }

int CRawNodeDevice::Open(const char* path) {
    m_lastError = 0;
    if (path) m_devicePath = path;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    int fd = platform::disks::OpenReadOnly(m_devicePath.c_str());
    if (fd < 0) {
        int error = errno;
        m_lastError = m_codes.open;
        std::printf("open failed:%d,%s\n", error, std::strerror(error));
        if (platform::disks::IsPermissionRefusal(error)) m_permitted = 0;
        return 0;
    }
    m_fd = fd;
    u32 sectorSize = 0;
    m_sectorSize = platform::disks::QuerySectorSize(fd, &sectorSize) ? sectorSize : 512;
    u64 bytes = 0;
    m_totalSectors = platform::disks::QuerySizeBytes(fd, &bytes) ? static_cast<i64>(bytes / m_sectorSize) : 0;
    return 1;
}

int CRawNodeDevice::Close() {
    if (m_fd < 0) return 0;
    ::close(m_fd);
    m_fd = -1;
    return 1;
}

int CRawNodeDevice::ReOpen() {
    Close();
    for (int attempt = 0; attempt < kReOpenAttempts; ++attempt) {
        int fd = platform::disks::OpenReadOnly(m_devicePath.c_str());
        if (fd >= 0) {
            m_fd = fd;
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(g_reOpenPauseMs.load()));
    }
    return 0;
}

int CRawNodeDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    m_lastError = 0;
    i64 offset = 0;
    i64 length = 0;
    if (!buffer || firstSector < 0 || sectorCount <= 0 || !IsFirstSectorAllowed(firstSector) ||
        !sector_math::ByteRange(firstSector, sectorCount, m_sectorSize, 0, &offset, &length)) {
        m_lastError = m_codes.badArgument;
        return 0;
    }
    if (KXReadAsyncData(buffer, m_fd, offset, length) > 0) return 1;
    m_lastError = m_codes.read;
    OnReadFailed();
    return 0;
}

int CRawNodeDevice::IOCtl(u64 /*code*/, void* /*data*/) {
    m_lastError = m_codes.ioctl;
    return 0;
}

void CRawNodeDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data != m_privateData) delete m_privateData;
    m_privateData = data;
    TakeRecord(data);
}

void CRawNodeDevice::SetGeometryFromRecord(i64 sectorSize, i64 totalSectors) {
    // The record's values are trusted only when they make sense; a bad sector size would make every
    // later byte range wrong.
    if (!sector_math::IsValidSectorSize(static_cast<u64>(sectorSize)) || totalSectors < 0) return;
    m_sectorSize = static_cast<u32>(sectorSize);
    m_totalSectors = totalSectors;
}
