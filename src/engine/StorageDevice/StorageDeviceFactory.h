// Factories of the storage devices. Each returns a new device that is not yet open, or null.
#pragma once

#include "engine/StorageDevice/IStorageDevice.h"

IStorageDevice* CreateDiskDevice(const char* path);
IStorageDevice* CreateVolumeDevice(const char* path);
IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, i64 startSector, i64 sectorCount);
IStorageDevice* CreateEdiDeviceImp(const char* path);
IStorageDevice* CreateDmgDeviceImp(const char* path);
// A volume over the same sectors as a partition device whose partition record has kind 0 and a
// parent disk; null otherwise.
IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition);
