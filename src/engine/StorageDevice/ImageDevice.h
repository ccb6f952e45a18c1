// Disk-image files read as devices: the EDI image (a header, then the data at an offset) and the flat or
// UDIF image. The geometry comes from the image's record, attached after Open.
#pragma once

#include <string>

#include "engine/DeviceRecords/ImageInfoStructs.h"
#include "engine/StorageDevice/ReadOnlyFileDevice.h"

class CImageDevice : public CReadOnlyFileDevice {
public:
    // Opens the stored image path read only (the argument is not used); the sector size becomes 512.
    int Open(const char* path) override;

    const std::string& GetImagePath() const { return m_path; }
    i64 GetDataOffset() const { return m_dataOffset; }

protected:
    explicit CImageDevice(const char* path) : CReadOnlyFileDevice(path, storage_codes::kImage) {}
    // The first three fields of the image's record, or false when the data holds no record.
    virtual bool ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) = 0;
    // Takes sector size, total sectors and data offset from the record. A record with a sector size
    // that is not a power of two from 512 to 65536, or whose data lies past the end of the open file,
    // leaves the device unreadable.
    void TakeRecord(IStorageDeviceData* data) override;
    bool AcceptsRead(i64 /*firstSector*/) override { return m_geometryValid; }

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
