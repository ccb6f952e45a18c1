// Disk-image files opened as devices with their information record attached.
#pragma once

#include "engine/DeviceRecords/ImageInfoStructs.h"
#include "engine/StorageDevice/IStorageDevice.h"

// Reads the information block of the EDI image at path into block: 0 on success, -1 when the file
// cannot be read, is not an EDI image, its recorded size is not its real size, its sector size is not a
// power of two from 512 to 65536 or its data offset lies past its end. The name is cut to 127
// characters and the path field set to path.
int EuFillEdiFileInfo(CEDIDeviceInfoStruct* block, const char* path);

// An opened EDI image device with its information block attached, or null.
IStorageDevice* CreateEdiDevice(const char* path);
// The EDI image of a saved block (length must be the block size), opened at path or, when path is
// null, at the block's own path; null unless the image still matches the block.
IStorageDevice* CreateEdiDeviceByEdiInfo(void* block, int length, const char* path);

// An opened flat or UDIF image device with a copy of its record attached, or null.
IStorageDevice* CreateDmgDevice(const char* path, void* dmgInfo);
// The image of a saved record, opened at the record's own path (path is not used); null when it fails.
IStorageDevice* CreateDmgDeviceByDmgInfo(void* dmgInfo, int length, const char* path);
