// A view over an exFAT main (or backup) boot sector: the validity test every exFAT road starts with,
// and the geometry the searchers read from it.
#pragma once

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

class CExFatDBR {
public:
    // The bytes of one sector (at least 512 to be valid); kept, not copied, for the life of the view.
    explicit CExFatDBR(ByteReader sector) : m_sector(sector) {}
    CExFatDBR(const u8* sector, size_t size) : m_sector(sector, size) {}

    // True when the view holds a valid exFAT boot sector for a device of that sector size.
    bool IsValid(u32 deviceSectorSize) const;

    u64 GetTotalSectors() const;
    u32 GetFatStartSector() const;
    u32 GetSectorsPerFat() const;
    u32 GetDataRegionStartSector() const;
    u32 GetTotalCluster() const;
    u32 GetRootDirStartCluster() const;
    u32 GetActiveFatNumber() const;
    u32 GetBytePerSectorShift() const;
    u32 GetSectorsPerClusterShift() const;
    u32 GetBytePerSector() const;
    u32 GetSectorsperCluster() const;
    u32 GetNumberOfFat() const;
    enumFILE_SYSTEM_TYPE GetFileSystemType() const { return FILE_SYSTEM_EXFAT; }

private:
    ByteReader m_sector;
};
