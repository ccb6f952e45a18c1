#include "engine/StorageDevice/RawNodeDevice.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/Common/DebugChannel.h"
#include "engine/StorageDevice/SectorMath.h"
#include "platform/disks/BlockDevice.h"

namespace {
std::atomic<std::chrono::milliseconds::rep> g_reOpenPauseMs{1000};
constexpr int kReOpenAttempts = 3;
}  // namespace

void CRawNodeDevice::SetReOpenPause(std::chrono::milliseconds pause) {
    g_reOpenPauseMs = pause.count();
}

int CRawNodeDevice::Open(const char* path) {
    m_lastError = 0;
    if (path) m_path = path;
    if (int error = OpenStoredPath()) {
        EngineDebug("open failed:%d,%s\n", error, std::strerror(error));
        if (platform::disks::IsPermissionRefusal(error)) m_permitted = 0;
        return 0;
    }
    u32 sectorSize = 0;
    m_sectorSize = platform::disks::QuerySectorSize(m_fd, &sectorSize) ? sectorSize : 512;
    u64 bytes = 0;
    m_totalSectors = platform::disks::QuerySizeBytes(m_fd, &bytes) ? static_cast<i64>(bytes / m_sectorSize) : 0;
    return 1;
}

int CRawNodeDevice::ReOpen() {
    Close();
    for (int attempt = 0; attempt < kReOpenAttempts; ++attempt) {
        int fd = platform::disks::OpenReadOnly(m_path.c_str());
        if (fd >= 0) {
            m_fd = fd;
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(g_reOpenPauseMs.load()));
    }
    return 0;
}

void CRawNodeDevice::SetGeometryFromRecord(i64 sectorSize, i64 totalSectors) {
    // The record's values are trusted only when they make sense; a bad sector size would make every
    // later byte range wrong.
    if (!sector_math::IsValidSectorSize(static_cast<u64>(sectorSize)) || totalSectors < 0) return;
    m_sectorSize = static_cast<u32>(sectorSize);
    m_totalSectors = totalSectors;
}
