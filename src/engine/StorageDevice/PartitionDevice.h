// Windows over a parent disk: a partition, and a partition shown as a volume (a partition without a
// volume of the system's own, offered to the user as a volume).
#pragma once

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceCodes.h"

class CPartitionWindowDevice : public IStorageDevice {
public:
    ~CPartitionWindowDevice() override;
    CPartitionWindowDevice(const CPartitionWindowDevice&) = delete;
    CPartitionWindowDevice& operator=(const CPartitionWindowDevice&) = delete;

    // Takes the sector size from the parent's disk record; nothing is opened.
    int Open(const char* path) override;
    int Close() override;
    // Reads inside the window; the part of a request past its end is zero-filled.
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_sectorCount; }
    int IOCtl(u64 code, void* data) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u64 GetLastError() override { return m_lastError; }
    virtual i64 GetStartSector() { return m_startSector; }

    // The range test of ReadSector (the third argument is not used; total is the window's count).
    int IsValidRange(i64 firstSector, i64 sectorCount, i64 ignored, i64 totalSectors);
    IStorageDevice* GetParent() const { return m_parent; }
    // The parent's disk record, or null with the last error set.
    CCollectDiskDeviceInfoStruct* GetParentDiskInfo();

protected:
    CPartitionWindowDevice(IStorageDevice* parent, i64 start, i64 count, const storage_codes::PartitionCodes& codes);
    virtual void TakeRecord(IStorageDeviceData* data) = 0;

    const storage_codes::PartitionCodes& m_codes;
    u64 m_lastError = 0;
    IStorageDevice* m_parent;  // not owned
    u32 m_sectorSize = 512;
    i64 m_startSector;
    i64 m_sectorCount;
    IStorageDeviceData* m_privateData = nullptr;
};

class CPartitionDevice : public CPartitionWindowDevice {
public:
    CPartitionDevice(IStorageDevice* parent, i64 start, i64 count);
    u32 GetType() override { return STORAGE_DEVICE_PARTITION; }
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo();

protected:
    void TakeRecord(IStorageDeviceData* data) override;
};

class CPartitionVirtualVolumeDevice : public CPartitionWindowDevice {
public:
    CPartitionVirtualVolumeDevice(IStorageDevice* parent, i64 start, i64 count);
    u32 GetType() override { return STORAGE_DEVICE_VOLUME; }
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();

protected:
    void TakeRecord(IStorageDeviceData* data) override;
};
