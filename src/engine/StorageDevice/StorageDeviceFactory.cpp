#include "engine/StorageDevice/StorageDeviceFactory.h"

#include <new>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/DiskDevice.h"
#include "engine/StorageDevice/ImageDevice.h"
#include "engine/StorageDevice/PartitionDevice.h"
#include "engine/StorageDevice/VolumeDevice.h"

IStorageDevice* CreateDiskDevice(const char* path) { return new (std::nothrow) CDiskDevice(path); }

IStorageDevice* CreateVolumeDevice(const char* path) { return new (std::nothrow) CVolumeDevice(path); }

IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, i64 startSector, i64 sectorCount) {
    return new (std::nothrow) CPartitionDevice(parent, startSector, sectorCount);
}

IStorageDevice* CreateEdiDeviceImp(const char* path) { return new (std::nothrow) CEdiDevice(path); }

IStorageDevice* CreateDmgDeviceImp(const char* path) { return new (std::nothrow) CDmgDevice(path); }

IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition) {
    if (!partition) return nullptr;
    auto* holder = dynamic_cast<IPartitionDeviceData*>(partition->GetPrivateData());
    const CCollectedPartitionDeviceInfoStruct* record = holder ? holder->GetPartitionInfo() : nullptr;
    if (!record || record->kind != 0 || !record->parentDisk) return nullptr;
    auto* device =
        new (std::nothrow) CPartitionVirtualVolumeDevice(record->parentDisk, record->startSector, record->sectorCount);
    return device;
}
