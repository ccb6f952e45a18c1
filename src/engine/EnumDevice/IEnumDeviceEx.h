// The device list of the machine as the operations layer sees it: disks, and for each disk its
// partitions and its volumes (partitions without a volume shown as volumes of their own).
#pragma once

#include "engine/Common/Types.h"
#include "engine/StorageDevice/IStorageDevice.h"

class IEnumDeviceEx {
public:
    virtual ~IEnumDeviceEx() = default;
    virtual u64 Init() = 0;
    virtual u64 Uninit() = 0;
    // With a null array, count receives the number of devices. With an array, count must be at least
    // that number; the device pointers (owned by the enumeration until Uninit) are copied and count
    // receives how many.
    virtual u64 EnumDiskDevice(IStorageDevice** array, int& count) = 0;
    virtual u64 EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) = 0;
    virtual u64 EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) = 0;
};

// The one process-wide enumeration, made on first use.
IEnumDeviceEx* CreateEnumDeviceEx();
