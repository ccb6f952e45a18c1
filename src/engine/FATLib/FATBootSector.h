// A view over a FAT16 or FAT32 boot sector: classification and the geometry every FAT reader asks of it.
#pragma once

#include "engine/Common/ByteReader.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTypes.h"

class CTempFATDBR {
public:
    // buffer: at least 512 bytes, kept (not copied) for the life of the view.
    CTempFATDBR(const u8* buffer, u32 sectorSize);

    bool IsValidDBR() const { return m_type != FILE_SYSTEM_UNKNOWN; }
    u32 GetFileSystemType() const { return m_type; }
    // First byte non-zero and 0x55 0xAA at 510.
    static bool SimpleCheck(const u8* buffer);

    u32 GetSectorsperCluster() const;
    u32 GetReservedSector() const;
    u32 GetNumberOfFat() const;
    u32 GetSectorsPerFat() const;
    u32 GetFatTableStartSector() const { return U16(fat_boot_layout::kReservedSectors); }
    u32 GetRootEntries() const { return U16(fat_boot_layout::kRootEntries); }
    u32 GetRootDirStartCluster() const;
    u64 GetTotalSectors() const;
    u32 GetSectorSize() const { return m_sectorSize; }
    const u8* GetBuffer() const { return m_buffer; }

private:
    void InitFileSystemType();
    bool IsFAT16() const;
    bool IsFAT32() const;
    bool HasKnownType() const { return m_type <= FILE_SYSTEM_FAT32; }
    // Fields of the boot sector (inside its first 512 bytes, so always present).
    u8 U8(size_t at) const { return m_bytes.U8(at).value_or(0); }
    u16 U16(size_t at) const { return m_bytes.Le16(at).value_or(0); }
    u32 U32(size_t at) const { return m_bytes.Le32(at).value_or(0); }

    const u8* m_buffer;
    ByteReader m_bytes;
    u32 m_type = FILE_SYSTEM_UNKNOWN;
    u32 m_sectorSize;
};
