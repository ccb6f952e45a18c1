#include "engine/StorageDevice/VolumeDevice.h"

#include "engine/Common/MessageCenter.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/DeviceRecord.h"

CVolumeDevice::CVolumeDevice(const char* path)
    : CRawNodeDevice(path, storage_codes::kVolume), m_messageCenter(CMessageCenter::Instance()) {}

void CVolumeDevice::SetApfsDevicePath(const char* path) {
    if (path) m_apfsDevicePath = path;
}

CCollectedVolumeDeviceInfoStruct* CVolumeDevice::GetVolumeInfo() {
    return device_record::Get(m_privateData, &IVolumeDeviceData::GetVolumeInfo, m_codes.Record(), &m_lastError);
}

void CVolumeDevice::TakeRecord(IStorageDeviceData* data) {
    if (const auto* record = device_record::Peek(data, &IVolumeDeviceData::GetVolumeInfo))
        SetGeometryFromRecord(record->sectorSize, record->totalSectors);
}

void CVolumeDevice::OnReadFailed() {
    if (m_messageCenter) m_messageCenter->PushEvent(EVENT_BAD_SECTOR, 0, nullptr);
}
