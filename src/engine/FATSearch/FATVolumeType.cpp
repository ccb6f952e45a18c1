#include "engine/FATSearch/FATVolumeType.h"

#include "engine/Common/ResultCode.h"
#include "engine/StorageDevice/IStorageDevice.h"

#include "engine/DeviceRecords/IDeviceData.h"

u64 fat::RecordedFileSystemType(IStorageDevice* volume, u32& type) {
    if (volume->GetType() != STORAGE_DEVICE_VOLUME) return result::Make(result::kModuleFATSearch, 0x0081, 3);
    auto* data = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
    if (data == nullptr) return result::Make(result::kModuleFATSearch, 0x0088, 7);
    CCollectedVolumeDeviceInfoStruct* info = data->GetVolumeInfo();
    if (info == nullptr) return result::Make(result::kModuleFATSearch, 0x008f, 7);
    type = info->fileSystemType;
    return 0;
}
