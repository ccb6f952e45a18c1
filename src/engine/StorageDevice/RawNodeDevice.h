// What the disk and the volume devices share: a device node opened read only and read by sector.
#pragma once

#include <chrono>
#include <string>

#include "engine/StorageDevice/ReadOnlyFileDevice.h"

class CRawNodeDevice : public CReadOnlyFileDevice {
public:
    // Opens path (or the stored path when null) read only and asks it for its geometry.
    int Open(const char* path) override;
    // Closes, then tries to open the stored path up to 3 times with a pause after each failure.
    int ReOpen();
    u32 IsPermitted() override { return m_permitted; }

    const std::string& GetDevicePath() const { return m_path; }

    // The pause between two attempts of ReOpen (1 s in the product; tests shorten it).
    static void SetReOpenPause(std::chrono::milliseconds pause);

protected:
    CRawNodeDevice(const char* path, const storage_codes::DeviceCodes& codes) : CReadOnlyFileDevice(path, codes) {}

    void SetGeometryFromRecord(i64 sectorSize, i64 totalSectors);

    u32 m_permitted = 1;
};
