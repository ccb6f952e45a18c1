// A whole disk read through its device node.
#pragma once

#include <vector>

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/StorageDevice/RawNodeDevice.h"

class CDiskDevice : public CRawNodeDevice {
public:
    explicit CDiskDevice(const char* path);

    u32 GetType() override { return STORAGE_DEVICE_DISK; }

    // The disk record of the private data, or null with the last error set.
    CCollectDiskDeviceInfoStruct* GetDiskInfo();
    void SetVolumes(const std::vector<CCollectedVolumeDeviceInfoStruct>& volumes) { m_volumes = volumes; }
    // Copies the disk's volume records out; returns their count.
    int GetVolumes(std::vector<CCollectedVolumeDeviceInfoStruct>& out) const;

protected:
    void TakeRecord(IStorageDeviceData* data) override;

private:
    std::vector<CCollectedVolumeDeviceInfoStruct> m_volumes;
};
