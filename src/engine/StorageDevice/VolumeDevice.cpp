#include "engine/StorageDevice/VolumeDevice.h"

#include "engine/Common/MessageCenter.h"
#include "engine/EnumDevice/IDeviceData.h"

CVolumeDevice::CVolumeDevice(const char* path)
    : CRawNodeDevice(path, storage_codes::kVolume), m_messageCenter(CMessageCenter::Instance()) {}

void CVolumeDevice::SetApfsDevicePath(const char* path) {
    if (path) m_apfsDevicePath = path;
}

CCollectedVolumeDeviceInfoStruct* CVolumeDevice::GetVolumeInfo() {
    m_lastError = 0;
    if (!m_privateData) {
        m_lastError = m_codes.noPrivateData;
        return nullptr;
    }
    auto* data = dynamic_cast<IVolumeDeviceData*>(m_privateData);
    if (!data) {
        m_lastError = m_codes.wrongDataKind;
        return nullptr;
    }
    CCollectedVolumeDeviceInfoStruct* record = data->GetVolumeInfo();
    if (!record) m_lastError = m_codes.noRecord;
    return record;
}

void CVolumeDevice::TakeRecord(IStorageDeviceData* data) {
    auto* volume = dynamic_cast<IVolumeDeviceData*>(data);
    const CCollectedVolumeDeviceInfoStruct* record = volume ? volume->GetVolumeInfo() : nullptr;
    if (record) SetGeometryFromRecord(record->sectorSize, record->totalSectors);
}

void CVolumeDevice::OnReadFailed() {
    if (m_messageCenter) m_messageCenter->PushEvent(EVENT_BAD_SECTOR, 0, nullptr);
}
