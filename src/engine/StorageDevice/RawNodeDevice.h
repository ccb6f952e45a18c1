// What the disk and the volume devices share: a device node opened read only and read by sector.
#pragma once

#include <chrono>
#include <string>

#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceCodes.h"

class CRawNodeDevice : public IStorageDevice {
public:
    ~CRawNodeDevice() override;
    CRawNodeDevice(const CRawNodeDevice&) = delete;
    CRawNodeDevice& operator=(const CRawNodeDevice&) = delete;

    // Opens path (or the stored path when null) read only and asks it for its geometry.
    int Open(const char* path) override;
    int Close() override;
    // Closes, then tries to open the stored path up to 3 times with a pause after each failure.
    int ReOpen();
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_totalSectors; }
    int IOCtl(u64 code, void* data) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u64 GetLastError() override { return m_lastError; }
    u32 IsPermitted() override { return m_permitted; }

    const std::string& GetDevicePath() const { return m_devicePath; }
    bool IsOpen() const { return m_fd >= 0; }

    // The pause between two attempts of ReOpen (1 s in the product; tests shorten it).
    static void SetReOpenPause(std::chrono::milliseconds pause);

protected:
    CRawNodeDevice(const char* path, const storage_codes::DeviceCodes& codes);

    // Takes the geometry from the record of a new private-data object.
    virtual void TakeRecord(IStorageDeviceData* data) = 0;
    // The volume refuses reads at or past its end before touching the device.
    virtual bool IsFirstSectorAllowed(i64 /*firstSector*/) { return true; }
    virtual void OnReadFailed() {}

    void SetGeometryFromRecord(i64 sectorSize, i64 totalSectors);
    void SetLastError(u64 code) { m_lastError = code; }

    const storage_codes::DeviceCodes& m_codes;
    u64 m_lastError = 0;
    int m_fd = -1;
    std::string m_devicePath;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;
    IStorageDeviceData* m_privateData = nullptr;
    u32 m_permitted = 1;
};
