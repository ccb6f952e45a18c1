#include "engine/StorageDevice/ImageDevice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "engine/Common/DebugChannel.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/DeviceRecord.h"
#include "engine/StorageDevice/SectorMath.h"

namespace {

// The geometry fields the EDI and DMG records share.
template <class Record>
bool GeometryOf(const Record* record, u64* sectorSize, u64* totalSectors, u64* dataOffset) {
    if (!record) return false;
    *sectorSize = record->sectorSize;
    *totalSectors = record->totalSectors;
    *dataOffset = record->dataOffset;
    return true;
}

}  // namespace

int CImageDevice::Open(const char* /*path*/) {
    m_lastError = 0;
    if (int error = OpenStoredPath()) {
        if (error != ENOENT) EngineDebug("open failed:%d\n", error);
        return 0;
    }
    m_sectorSize = 512;
    return 1;
}

void CImageDevice::TakeRecord(IStorageDeviceData* data) {
    u64 sectorSize = 0;
    u64 totalSectors = 0;
    u64 dataOffset = 0;
    if (!data || !ReadRecordGeometry(data, &sectorSize, &totalSectors, &dataOffset)) return;
    constexpr u64 kMax = static_cast<u64>(std::numeric_limits<i64>::max());
    m_geometryValid = sector_math::IsValidSectorSize(sectorSize) && totalSectors <= kMax && dataOffset <= kMax;
    struct stat st {};
    if (m_geometryValid && m_fd >= 0 && fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
        m_geometryValid = dataOffset <= static_cast<u64>(st.st_size);
    if (!m_geometryValid) {
        m_totalSectors = 0;
        return;
    }
    m_sectorSize = static_cast<u32>(sectorSize);
    m_totalSectors = static_cast<i64>(totalSectors);
    m_dataOffset = static_cast<i64>(dataOffset);
}

CEDIDeviceInfoStruct* CEdiDevice::GetEDIInfo() {
    return device_record::Get(m_privateData, &IEDIDeviceData::GetEDIInfo, m_codes.Record(), &m_lastError);
}

bool CEdiDevice::ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) {
    return GeometryOf(device_record::Peek(data, &IEDIDeviceData::GetEDIInfo), sectorSize, totalSectors, dataOffset);
}

CDMGDeviceInfoStruct* CDmgDevice::GetDMGInfo() {
    return device_record::Get(m_privateData, &IDmgDeviceData::GetDMGInfo, m_codes.Record(), &m_lastError);
}

bool CDmgDevice::ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) {
    return GeometryOf(device_record::Peek(data, &IDmgDeviceData::GetDMGInfo), sectorSize, totalSectors, dataOffset);
}
