#include "engine/FATSearch/FATVolumeType.h"

#include "engine/Common/ResultCode.h"
#include "engine/StorageDevice/IStorageDevice.h"

#if __has_include("engine/EnumDevice/IDeviceData.h")
#include "engine/EnumDevice/IDeviceData.h"
#define BRELVOX_HAVE_VOLUME_DATA 1
#endif

u64 fat::RecordedFileSystemType(IStorageDevice* volume, u32& type) {
    if (volume->GetType() != STORAGE_DEVICE_VOLUME) return result::Make(result::kModuleFATSearch, 0x0081, 3);
#ifdef BRELVOX_HAVE_VOLUME_DATA
    auto* data = dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData());
    if (data == nullptr) return result::Make(result::kModuleFATSearch, 0x0088, 7);
    CCollectedVolumeDeviceInfoStruct* info = data->GetVolumeInfo();
    if (info == nullptr) return result::Make(result::kModuleFATSearch, 0x008f, 7);
    type = info->fileSystemType;
    return 0;
#else
    return result::Make(result::kModuleFATSearch, 0x0088, 7);
#endif
}
