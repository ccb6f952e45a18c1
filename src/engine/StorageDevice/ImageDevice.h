// Disk-image files read as devices: the EDI image (a header, then the data at an offset) and the flat or
// UDIF image. The geometry comes from the image's record, attached after Open.
#pragma once

#include <string>

#include "engine/EnumDevice/ImageInfoStructs.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceCodes.h"

class CImageDevice : public IStorageDevice {
public:
    ~CImageDevice() override;
    CImageDevice(const CImageDevice&) = delete;
    CImageDevice& operator=(const CImageDevice&) = delete;

    // Opens the stored image path read only (the argument is not used); the sector size becomes 512.
    int Open(const char* path) override;
    int Close() override;
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_totalSectors; }
    int IOCtl(u64 code, void* data) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    // Takes sector size, total sectors and data offset from the record. A record with a sector size
    // that is not a power of two from 512 to 65536, or whose data lies past the end of the open file,
    // leaves the device unreadable.
    void SetPrivateData(IStorageDeviceData* data) override;
    u64 GetLastError() override { return m_lastError; }

    const std::string& GetImagePath() const { return m_imagePath; }
    i64 GetDataOffset() const { return m_dataOffset; }

protected:
    explicit CImageDevice(const char* path);
    // The first three fields of the image's record, or false when the data holds no record.
    virtual bool ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors,
                                    u64* dataOffset) = 0;

    u64 m_lastError = 0;
    int m_fd = -1;
    std::string m_imagePath;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    IStorageDeviceData* m_privateData = nullptr;
    i64 m_dataOffset = 0;
    bool m_geometryValid = true;
};

class CEdiDevice : public CImageDevice {
public:
    explicit CEdiDevice(const char* path) : CImageDevice(path) {}
    u32 GetType() override { return STORAGE_DEVICE_EDI; }
    CEDIDeviceInfoStruct* GetEDIInfo();

protected:
    bool ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) override;
};

class CDmgDevice : public CImageDevice {
public:
    explicit CDmgDevice(const char* path) : CImageDevice(path) {}
    u32 GetType() override { return STORAGE_DEVICE_DMG; }
    CDMGDeviceInfoStruct* GetDMGInfo();

protected:
    bool ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) override;
};
