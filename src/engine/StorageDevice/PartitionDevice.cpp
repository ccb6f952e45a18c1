#include "engine/StorageDevice/PartitionDevice.h"

#include <algorithm>
#include <cstring>

#include "engine/EnumDevice/IDeviceData.h"
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
    IStorageDeviceData* data = m_parent->GetPrivateData();
    if (!data) {
        m_lastError = m_codes.parentNoPrivateData;
        return nullptr;
    }
    auto* disk = dynamic_cast<IDiskDeviceData*>(data);
    if (!disk) {
        m_lastError = m_codes.parentWrongDataKind;
        return nullptr;
    }
    CCollectDiskDeviceInfoStruct* record = disk->GetDiskInfo();
    if (!record) m_lastError = m_codes.parentNoRecord;
    return record;
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

namespace {

template <class Holder, class Record, Record* (Holder::*Get)()>
Record* RecordOf(IStorageDeviceData* data, const storage_codes::PartitionCodes& codes, u64* lastError) {
    *lastError = 0;
    if (!data) {
        *lastError = codes.noPrivateData;
        return nullptr;
    }
    auto* holder = dynamic_cast<Holder*>(data);
    if (!holder) {
        *lastError = codes.wrongDataKind;
        return nullptr;
    }
    Record* record = (holder->*Get)();
    if (!record) *lastError = codes.noRecord;
    return record;
}

}  // namespace

CPartitionDevice::CPartitionDevice(IStorageDevice* parent, i64 start, i64 count)
    : CPartitionWindowDevice(parent, start, count, storage_codes::kPartition) {}

CCollectedPartitionDeviceInfoStruct* CPartitionDevice::GetPartitionInfo() {
    return RecordOf<IPartitionDeviceData, CCollectedPartitionDeviceInfoStruct, &IPartitionDeviceData::GetPartitionInfo>(
        m_privateData, m_codes, &m_lastError);
}

void CPartitionDevice::TakeRecord(IStorageDeviceData* data) {
    auto* holder = dynamic_cast<IPartitionDeviceData*>(data);
    const CCollectedPartitionDeviceInfoStruct* record = holder ? holder->GetPartitionInfo() : nullptr;
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
    return RecordOf<IVolumeDeviceData, CCollectedVolumeDeviceInfoStruct, &IVolumeDeviceData::GetVolumeInfo>(
        m_privateData, m_codes, &m_lastError);
}

void CPartitionVirtualVolumeDevice::TakeRecord(IStorageDeviceData* data) {
    auto* holder = dynamic_cast<IVolumeDeviceData*>(data);
    const CCollectedVolumeDeviceInfoStruct* record = holder ? holder->GetVolumeInfo() : nullptr;
    if (!record || record->totalSectors < 0) return;
    if (sector_math::IsValidSectorSize(static_cast<u64>(record->sectorSize)))
        m_sectorSize = std::max(m_sectorSize, static_cast<u32>(record->sectorSize));
    m_sectorCount = record->totalSectors;
}
