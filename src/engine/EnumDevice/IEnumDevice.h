// Lists the disks of the machine, and the partitions and volumes of one disk.
#pragma once

#include "engine/EnumDevice/DeviceList.h"

class IEnumDevice {
public:
    virtual ~IEnumDevice() = default;
    // Each empties out first; the devices are new and owned by the caller.
    virtual u64 EnumDiskDevice(DeviceList& out) = 0;
    virtual u64 EnumPartitionDevice(IStorageDevice* disk, DeviceList& out) = 0;
    virtual u64 EnumVolumeDevice(IStorageDevice* disk, DeviceList& out) = 0;
};
