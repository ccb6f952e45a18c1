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
    return b[510] == 0x55 && b[511] == 0xAA;
}

}  // namespace

CTempFATDBR::CTempFATDBR(const u8* buffer, u32 sectorSize) : m_buffer(buffer), m_sectorSize(sectorSize) {
    assert(buffer != nullptr && "FATBootSector.cpp: null boot sector buffer");
    InitFileSystemType();
}

bool CTempFATDBR::SimpleCheck(const u8* buffer) {
    return buffer[0] != 0 && HasSignature(buffer);
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
    const u8* b = m_buffer;
    if (strncasecmp(reinterpret_cast<const char*>(b + 54), "FAT16   ", 8) != 0) return false;
    if (b[16] != 2 || !IsClusterSize(b[13])) return false;
    if (fat::Le16(b + 11) != m_sectorSize) return false;
    const u32 rootEntries = fat::Le16(b + 17);
    if (rootEntries < 224 || (rootEntries * 32) % m_sectorSize != 0) return false;
    if (fat::Le16(b + 22) == 0) return false;
    return HasSignature(b);
}

bool CTempFATDBR::IsFAT32() const {
    const u8* b = m_buffer;
    if (strncasecmp(reinterpret_cast<const char*>(b + 82), "FAT32   ", 8) != 0) return false;
    if (b[16] != 2 || !IsClusterSize(b[13])) return false;
    if (fat::Le16(b + 11) != m_sectorSize) return false;
    if (fat::Le32(b + 36) == 0) return false;
    return HasSignature(b);
}

u32 CTempFATDBR::GetSectorsperCluster() const {
    return HasKnownType() ? m_buffer[13] : 0;
}
u32 CTempFATDBR::GetReservedSector() const {
    return HasKnownType() ? fat::Le16(m_buffer + 14) : 0;
}
u32 CTempFATDBR::GetNumberOfFat() const {
    return HasKnownType() ? m_buffer[16] : 0;
}

u32 CTempFATDBR::GetSectorsPerFat() const {
    if (!HasKnownType()) return 0;
    return m_type == FILE_SYSTEM_FAT32 ? fat::Le32(m_buffer + 36) : fat::Le16(m_buffer + 22);
}

u32 CTempFATDBR::GetRootDirStartCluster() const {
    return m_type == FILE_SYSTEM_FAT32 ? fat::Le32(m_buffer + 44) : 0;
}

u64 CTempFATDBR::GetTotalSectors() const {
    const u32 total16 = fat::Le16(m_buffer + 19);
    const u32 total32 = fat::Le32(m_buffer + 32);
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
