#include "engine/StorageDevice/PartitionDevice.h"

#include <algorithm>
#include <cstring>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/DeviceRecord.h"
#include "engine/StorageDevice/SectorMath.h"

CPartitionWindowDevice::CPartitionWindowDevice(IStorageDevice* parent, i64 start, i64 count,
                                               const storage_codes::PartitionCodes& codes)
    : m_codes(codes), m_parent(parent), m_startSector(start), m_sectorCount(count) {}

CPartitionWindowDevice::~CPartitionWindowDevice() { delete m_privateData; }

CCollectDiskDeviceInfoStruct* CPartitionWindowDevice::GetParentDiskInfo() {
    m_lastError = 0;
    if (!m_parent) {
        m_lastError = m_codes.parentMissing;
        return nullptr;
    }
    return device_record::Get(m_parent->GetPrivateData(), &IDiskDeviceData::GetDiskInfo, m_codes.ParentRecord(),
                              &m_lastError);
}

int CPartitionWindowDevice::Open(const char* /*path*/) {
    const CCollectDiskDeviceInfoStruct* record = GetParentDiskInfo();
    if (!record) return 0;
    if (sector_math::IsValidSectorSize(static_cast<u64>(record->sectorSize)))
        m_sectorSize = static_cast<u32>(record->sectorSize);
    return 1;
}

int CPartitionWindowDevice::Close() {
    m_lastError = 0;
    return 1;
}

int CPartitionWindowDevice::IsValidRange(i64 firstSector, i64 sectorCount, i64 /*ignored*/, i64 totalSectors) {
    if (firstSector < 0 || firstSector >= totalSectors) {
        m_lastError = m_codes.firstOutOfRange;
        return 0;
    }
    if (sectorCount <= 0 || sectorCount > totalSectors) {
        m_lastError = m_codes.countTooLarge;
        return 0;
    }
    return 1;
}

int CPartitionWindowDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    m_lastError = 0;
    if (!m_parent) {
        m_lastError = m_codes.noParent;
        return 0;
    }
    if (!buffer) {
        m_lastError = m_codes.nullBuffer;
        return 0;
    }
    if (!IsValidRange(firstSector, sectorCount, 0, m_sectorCount)) return 0;
    // Our sectors must be the parent's, and the whole request must be addressable in bytes.
    i64 parentFirst = 0;
    i64 requestBytes = 0;
    if (m_parent->GetSectorSize() != m_sectorSize || !sector_math::Add(m_startSector, firstSector, &parentFirst) ||
        !sector_math::Multiply(sectorCount, m_sectorSize, &requestBytes)) {
        m_lastError = m_codes.countTooLarge;
        return 0;
    }
    const i64 inside = std::min(sectorCount, m_sectorCount - firstSector);
    int done = m_parent->ReadSector(buffer, parentFirst, inside);
    if (!done) {
        m_lastError = m_parent->GetLastError();
        return 0;
    }
    // The part of the request past the window's end holds zeros, never stale bytes.
    const i64 insideBytes = inside * static_cast<i64>(m_sectorSize);
    std::memset(static_cast<u8*>(buffer) + insideBytes, 0, static_cast<size_t>(requestBytes - insideBytes));
    return done;
}

int CPartitionWindowDevice::IOCtl(u64 /*code*/, void* /*data*/) {
    m_lastError = m_codes.ioctl;
    return 0;
}

void CPartitionWindowDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data != m_privateData) delete m_privateData;
    m_privateData = data;
    TakeRecord(data);
}

CPartitionDevice::CPartitionDevice(IStorageDevice* parent, i64 start, i64 count)
    : CPartitionWindowDevice(parent, start, count, storage_codes::kPartition) {}

CCollectedPartitionDeviceInfoStruct* CPartitionDevice::GetPartitionInfo() {
    return device_record::Get(m_privateData, &IPartitionDeviceData::GetPartitionInfo, m_codes.Record(), &m_lastError);
}

void CPartitionDevice::TakeRecord(IStorageDeviceData* data) {
    const CCollectedPartitionDeviceInfoStruct* record =
        device_record::Peek(data, &IPartitionDeviceData::GetPartitionInfo);
    if (!record || !sector_math::IsValidSectorSize(static_cast<u64>(record->sectorSize)) || record->sectorCount < 0)
        return;
    m_sectorSize = static_cast<u32>(record->sectorSize);
    m_sectorCount = record->sectorCount;
}

CPartitionVirtualVolumeDevice::CPartitionVirtualVolumeDevice(IStorageDevice* parent, i64 start, i64 count)
    : CPartitionWindowDevice(parent, start, count, storage_codes::kPartitionVolume) {
    if (parent && sector_math::IsValidSectorSize(parent->GetSectorSize())) m_sectorSize = parent->GetSectorSize();
}

CCollectedVolumeDeviceInfoStruct* CPartitionVirtualVolumeDevice::GetVolumeInfo() {
    return device_record::Get(m_privateData, &IVolumeDeviceData::GetVolumeInfo, m_codes.Record(), &m_lastError);
}

void CPartitionVirtualVolumeDevice::TakeRecord(IStorageDeviceData* data) {
    const CCollectedVolumeDeviceInfoStruct* record = device_record::Peek(data, &IVolumeDeviceData::GetVolumeInfo);
    if (!record || record->totalSectors < 0) return;
    if (sector_math::IsValidSectorSize(static_cast<u64>(record->sectorSize)))
        m_sectorSize = std::max(m_sectorSize, static_cast<u32>(record->sectorSize));
    m_sectorCount = record->totalSectors;
}
