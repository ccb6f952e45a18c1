#include "engine/StorageDevice/DiskDevice.h"

#include "engine/EnumDevice/IDeviceData.h"

CDiskDevice::CDiskDevice(const char* path) : CRawNodeDevice(path, storage_codes::kDisk) {}

CCollectDiskDeviceInfoStruct* CDiskDevice::GetDiskInfo() {
    m_lastError = 0;
    if (!m_privateData) {
        m_lastError = m_codes.noPrivateData;
        return nullptr;
    }
    auto* data = dynamic_cast<IDiskDeviceData*>(m_privateData);
    if (!data) {
        m_lastError = m_codes.wrongDataKind;
        return nullptr;
    }
    CCollectDiskDeviceInfoStruct* record = data->GetDiskInfo();
    if (!record) m_lastError = m_codes.noRecord;
    return record;
}

int CDiskDevice::GetVolumes(std::vector<CCollectedVolumeDeviceInfoStruct>& out) const {
    out = m_volumes;
    return static_cast<int>(out.size());
}

void CDiskDevice::TakeRecord(IStorageDeviceData* data) {
    auto* disk = dynamic_cast<IDiskDeviceData*>(data);
    const CCollectDiskDeviceInfoStruct* record = disk ? disk->GetDiskInfo() : nullptr;
    if (record) SetGeometryFromRecord(record->sectorSize, record->totalSectors);
}
