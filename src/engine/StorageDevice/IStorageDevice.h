// A readable source of fixed-size sectors addressed from 0, always opened read only.
#pragma once

#include "engine/Common/Types.h"
#include "engine/DeviceRecords/IStorageDeviceData.h"

// Device kinds returned by IStorageDevice::GetType.
enum STORAGE_DEVICE_TYPE : u32 {
    STORAGE_DEVICE_DISK = 0,
    STORAGE_DEVICE_PARTITION = 1,
    STORAGE_DEVICE_VOLUME = 2,  // also a partition shown as a volume
    STORAGE_DEVICE_CACHE = 3,
    STORAGE_DEVICE_EDI = 4,
    STORAGE_DEVICE_DMG = 5,
};

class IStorageDevice {
public:
    virtual ~IStorageDevice() = default;
    // 1 on success, 0 on failure.
    virtual int Open(const char* path) = 0;
    virtual int Close() = 0;
    // Reads sectorCount sectors from firstSector into buffer (sectorCount x sector size bytes).
    virtual int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) = 0;
    virtual u32 GetSectorSize() = 0;
    virtual i64 GetTotalSectors() = 0;
    virtual int IOCtl(u64 code, void* data) = 0;
    virtual IStorageDeviceData* GetPrivateData() = 0;
    // Deletes the previous private data and takes ownership of the new one.
    virtual void SetPrivateData(IStorageDeviceData* data) = 0;
    virtual u32 GetType() = 0;
    virtual u64 GetLastError() = 0;
    virtual u32 IsPermitted() { return 1; }
    virtual void SetApfsDevicePath(const char* /*path*/) {}
};
