// Recognition of an exFAT volume for device enumeration: type 7, the volume length, and an empty
// label (the volume name of an exFAT volume is never shown from this analyser).
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class CExFatVolumeAnalyer : public IVolumeAnalyze {
public:
    explicit CExFatVolumeAnalyer(u64 totalSectors) : m_totalSectors(totalSectors) {}

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FILE_SYSTEM_EXFAT; }
    i64 GetTotalSector() override { return static_cast<i64>(m_totalSectors); }
    void GetLabel(char* buffer, int length) override;

private:
    u64 m_totalSectors = 0;
};

// Null for a null device, a sector size above 4096 bytes, a failed read or a sector that is not a valid
// exFAT boot sector for the device's sector size.
IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, u64 startSector);
