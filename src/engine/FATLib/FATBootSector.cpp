#include "engine/FATLib/FATBootSector.h"

#include <strings.h>
#include <cassert>

namespace {

bool IsClusterSize(u32 sectorsPerCluster) {
    switch (sectorsPerCluster) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
        case 64:
        case 128:
            return true;
        default:
            return false;
    }
}

bool HasSignature(const u8* b) {
    return ByteReader(b, fat_boot_layout::kSize).Le16(fat_boot_layout::kSignature) == 0xAA55;
}

bool HasTypeText(const u8* b, size_t at, const char* text) {
    return strncasecmp(reinterpret_cast<const char*>(b + at), text, fat_boot_layout::kTypeTextSize) == 0;
}

}  // namespace

CTempFATDBR::CTempFATDBR(const u8* buffer, u32 sectorSize)
    : m_buffer(buffer), m_bytes(buffer, fat_boot_layout::kSize), m_sectorSize(sectorSize) {
    assert(buffer != nullptr && "FATBootSector.cpp: null boot sector buffer");
    InitFileSystemType();
}

bool CTempFATDBR::SimpleCheck(const u8* buffer) {
    return buffer[fat_boot_layout::kJump] != 0 && HasSignature(buffer);
}

void CTempFATDBR::InitFileSystemType() {
    // Sector sizes below 512, above 4096 or not a multiple of 512 never hold a FAT volume we can read.
    if (!fat::IsSupportedSectorSize(m_sectorSize)) {
        m_type = FILE_SYSTEM_UNKNOWN;
    } else if (IsFAT16()) {
        m_type = FILE_SYSTEM_FAT16;
    } else if (IsFAT32()) {
        m_type = FILE_SYSTEM_FAT32;
    } else {
        m_type = FILE_SYSTEM_UNKNOWN;
    }
}

bool CTempFATDBR::IsFAT16() const {
    using namespace fat_boot_layout;
    if (!HasTypeText(m_buffer, kFat16TypeText, "FAT16   ")) return false;
    if (U8(kNumberOfFats) != 2 || !IsClusterSize(U8(kSectorsPerCluster))) return false;
    if (U16(kBytesPerSector) != m_sectorSize) return false;
    const u32 rootEntries = U16(kRootEntries);
    if (rootEntries < 224 || (rootEntries * fat_dir_entry_layout::kSize) % m_sectorSize != 0) return false;
    if (U16(kSectorsPerFat16) == 0) return false;
    return HasSignature(m_buffer);
}

bool CTempFATDBR::IsFAT32() const {
    using namespace fat_boot_layout;
    if (!HasTypeText(m_buffer, kFat32TypeText, "FAT32   ")) return false;
    if (U8(kNumberOfFats) != 2 || !IsClusterSize(U8(kSectorsPerCluster))) return false;
    if (U16(kBytesPerSector) != m_sectorSize) return false;
    if (U32(kSectorsPerFat32) == 0) return false;
    return HasSignature(m_buffer);
}

u32 CTempFATDBR::GetSectorsperCluster() const {
    return HasKnownType() ? U8(fat_boot_layout::kSectorsPerCluster) : 0;
}
u32 CTempFATDBR::GetReservedSector() const {
    return HasKnownType() ? U16(fat_boot_layout::kReservedSectors) : 0;
}
u32 CTempFATDBR::GetNumberOfFat() const {
    return HasKnownType() ? U8(fat_boot_layout::kNumberOfFats) : 0;
}

u32 CTempFATDBR::GetSectorsPerFat() const {
    if (!HasKnownType()) return 0;
    return m_type == FILE_SYSTEM_FAT32 ? U32(fat_boot_layout::kSectorsPerFat32)
                                       : U16(fat_boot_layout::kSectorsPerFat16);
}

u32 CTempFATDBR::GetRootDirStartCluster() const {
    return m_type == FILE_SYSTEM_FAT32 ? U32(fat_boot_layout::kRootCluster) : 0;
}

u64 CTempFATDBR::GetTotalSectors() const {
    const u32 total16 = U16(fat_boot_layout::kTotalSectors16);
    const u32 total32 = U32(fat_boot_layout::kTotalSectors32);
    switch (m_type) {
        case FILE_SYSTEM_FAT32:
            return total32;
        case FILE_SYSTEM_FAT16:
            return total16 != 0 ? total16 : total32;
        case FILE_SYSTEM_FAT12:
            return total16;
        default:
            return 0;
    }
}
