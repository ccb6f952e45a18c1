#include "engine/StorageDevice/DiskDevice.h"

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/DeviceRecord.h"

CDiskDevice::CDiskDevice(const char* path) : CRawNodeDevice(path, storage_codes::kDisk) {}

CCollectDiskDeviceInfoStruct* CDiskDevice::GetDiskInfo() {
    return device_record::Get(m_privateData, &IDiskDeviceData::GetDiskInfo, m_codes.Record(), &m_lastError);
}

int CDiskDevice::GetVolumes(std::vector<CCollectedVolumeDeviceInfoStruct>& out) const {
    out = m_volumes;
    return static_cast<int>(out.size());
}

void CDiskDevice::TakeRecord(IStorageDeviceData* data) {
    if (const auto* record = device_record::Peek(data, &IDiskDeviceData::GetDiskInfo))
        SetGeometryFromRecord(record->sectorSize, record->totalSectors);
}
