#include "engine/EnumDevice/EnumDevice.h"

#include "engine/Common/ResultCode.h"

#include "engine/EnumDevice/EnumDisk.h"
#include "engine/EnumDevice/EnumPartition.h"
#include "engine/EnumDevice/VolumeEnum.h"

u64 CEnumDevice::EnumDiskDevice(DeviceList& out) {
    out.clear();
    CEnumDisk(m_kernel).ExecEnum(out);
    return result::kSuccess;
}

u64 CEnumDevice::EnumPartitionDevice(IStorageDevice* disk, DeviceList& out) {
    out.clear();
    return CEnumPartition().ExecEnum(disk, out);
}

u64 CEnumDevice::EnumVolumeDevice(IStorageDevice* disk, DeviceList& out) {
    out.clear();
    if (disk) CEnumVolume(m_kernel).ExecEnum(disk, out);
    return result::kSuccess;
}
