#include <cstring>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/StorageDevice/IStorageDevice.h"

std::string GetDeviceDescription(IStorageDevice* device) {
    if (!device) return "";
    IStorageDeviceData* data = device->GetPrivateData();
    if (device->GetType() == STORAGE_DEVICE_VOLUME) {
        auto* volume = dynamic_cast<IVolumeDeviceData*>(data);
        const CCollectedVolumeDeviceInfoStruct* record = volume ? volume->GetVolumeInfo() : nullptr;
        if (record && record->kind == 0) return std::string(record->volumeName, strnlen(record->volumeName, sizeof record->volumeName));
    } else if (device->GetType() == STORAGE_DEVICE_EDI) {
        auto* edi = dynamic_cast<IEDIDeviceData*>(data);
        const CEDIDeviceInfoStruct* record = edi ? edi->GetEDIInfo() : nullptr;
        if (record) return std::string(record->name, strnlen(record->name, sizeof record->name));
    }
    return "";
}
