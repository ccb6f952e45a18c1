// Volume recognition of HFS+ and HFSX: a valid volume header at byte 1024 of the range.
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class CHFSPlusVolumeAnalyze : public IVolumeAnalyze {
public:
    static constexpr int kLabelBytes = 100;

    // Reads the one sector that holds byte 1024 of the volume starting at startSector.
    CHFSPlusVolumeAnalyze(IStorageDevice* device, u64 startSector);

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_type; }
    i64 GetTotalSector() override { return i64(m_totalSectors); }
    // HFS+ volumes report an empty label: min(length, 100) zero bytes.
    void GetLabel(char* buffer, int length) override;

private:
    enumFILE_SYSTEM_TYPE m_type = FILE_SYSTEM_UNKNOWN;
    u64 m_totalSectors = 0;
    char m_label[kLabelBytes] = {};
};

IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, u64 startSector);
