// A mounted (or mountable) volume read through its device node. A failed read is reported to the
// engine's event queue as a bad sector.
#pragma once

#include <string>

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/StorageDevice/RawNodeDevice.h"

class CMessageCenter;

class CVolumeDevice : public CRawNodeDevice {
public:
    explicit CVolumeDevice(const char* path);

    u32 GetType() override { return STORAGE_DEVICE_VOLUME; }
    void SetApfsDevicePath(const char* path) override;

    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
    const std::string& GetApfsDevicePath() const { return m_apfsDevicePath; }

protected:
    void TakeRecord(IStorageDeviceData* data) override;
    // Reads at or past the volume's end are refused before touching the device.
    bool AcceptsRead(i64 firstSector) override { return firstSector < m_totalSectors; }
    void OnReadFailed() override;

private:
    CMessageCenter* m_messageCenter;
    std::string m_apfsDevicePath;
};
