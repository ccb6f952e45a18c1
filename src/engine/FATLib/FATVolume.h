// Detection of a FAT16 or FAT32 volume for the engine's volume recognition, with its label.
#pragma once

#include <string>

#include "engine/FATLib/FATBootSector.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class CFATVolume {
public:
    explicit CFATVolume(IStorageDevice* device);

    // FAT32 through the root cluster chain, FAT16 through the fixed root directory. True when found.
    bool GetPartitionLabel(u64 startSector, const CTempFATDBR& dbr, std::string& label);
    // Cluster (at least 2) to device sector; all ones for other types or clusters.
    u64 ConvertClusterToSector(u64 startSector, const CTempFATDBR& dbr, u64 cluster) const;

private:
    // 1: label found, 0: none in this directory piece, -1: the walk ended (invalid entry or failed read).
    int LabelInDirectory(u64 sector, u32 sectors, std::string& label);

    IStorageDevice* m_device;
    u32 m_sectorSize;
};

class CFatVolumeAnalyze : public IVolumeAnalyze {
public:
    CFatVolumeAnalyze(IStorageDevice* device, u64 startSector);

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_type; }
    i64 GetTotalSector() override { return m_totalSectors; }
    // Copies min(length, 100) bytes of the label field; the copy is always terminated within length.
    void GetLabel(char* buffer, int length) override;

private:
    enumFILE_SYSTEM_TYPE m_type = FILE_SYSTEM_UNKNOWN;
    char m_label[100] = {};
    i64 m_totalSectors = 0;
};

namespace fat {
// The label text of a label entry: its 8.3 bytes without dot, trailing blanks cut, bytes above 0x7F "_".
std::string LabelFromEntry(const u8* entry);
}  // namespace fat
