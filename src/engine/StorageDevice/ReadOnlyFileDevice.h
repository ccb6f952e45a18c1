// What the disk, volume and image devices share: a device node or image file opened read only and read
// by sector, whose private-data record supplies the geometry.
#pragma once

#include <string>

#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceCodes.h"

class CReadOnlyFileDevice : public IStorageDevice {
public:
    ~CReadOnlyFileDevice() override;
    CReadOnlyFileDevice(const CReadOnlyFileDevice&) = delete;
    CReadOnlyFileDevice& operator=(const CReadOnlyFileDevice&) = delete;

    int Close() override;
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_totalSectors; }
    int IOCtl(u64 code, void* data) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    // Takes ownership, then the geometry of the new record (see TakeRecord).
    void SetPrivateData(IStorageDeviceData* data) override;
    u64 GetLastError() override { return m_lastError; }

    bool IsOpen() const { return m_fd >= 0; }

protected:
    CReadOnlyFileDevice(const char* path, const storage_codes::DeviceCodes& codes);

    // Closes the open descriptor, if any, and opens the stored path read only. On failure the last error
    // becomes the class's open code and the system's error number is returned; 0 on success.
    int OpenStoredPath();
    // Takes the geometry from the record of a new private-data object.
    virtual void TakeRecord(IStorageDeviceData* data) = 0;
    // Whether a read may start at firstSector at all; a refused read fails as a bad argument.
    virtual bool AcceptsRead(i64 /*firstSector*/) { return true; }
    virtual void OnReadFailed() {}

    const storage_codes::DeviceCodes& m_codes;
    u64 m_lastError = 0;
    int m_fd = -1;
    std::string m_path;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    IStorageDeviceData* m_privateData = nullptr;
    // Where sector 0 lies in the file.
    i64 m_dataOffset = 0;
};
