#include "engine/EXFatSearch/ExFatDBR.h"

#include "engine/EXFatSearch/ExFatLayout.h"

namespace b = exfat::boot;

bool CExFatDBR::IsValid(u32 deviceSectorSize) const {
    const ByteReader& s = m_sector;
    if (!s.Has(0, b::kSize)) return false;
    // 1. Signature and name.
    if (s.U8(b::kSignature) != 0x55 || s.U8(b::kSignature + 1) != 0xAA) return false;
    if (!s.Equals(b::kFileSystemName, b::kName)) return false;
    // 2. The must-be-zero area.
    for (size_t i = 0; i < b::kMustBeZeroLength; ++i) {
        if (s.U8(b::kMustBeZero + i) != 0) return false;
    }
    // 3. A sector shift of 9..12 that matches the device.
    const u32 sectorShift = GetBytePerSectorShift();
    if (sectorShift < 9 || sectorShift > 12 || (u32{1} << sectorShift) != deviceSectorSize) return false;
    // 4. Clusters of at most 32 MiB.
    const u32 clusterShift = GetSectorsPerClusterShift();
    if (sectorShift + clusterShift > exfat::kMaxClusterShift) return false;
    // 5. One or two FATs.
    const u32 fats = GetNumberOfFat();
    if (fats != 1 && fats != 2) return false;
    // 6. No empty geometry.
    const u64 fatLength = GetSectorsPerFat();
    const u64 heap = GetDataRegionStartSector();
    const u64 fatStart = GetFatStartSector();
    const u64 total = GetTotalSectors();
    const u64 clusters = GetTotalCluster();
    if (fatLength == 0 || heap == 0 || fatStart == 0 || total == 0 || clusters == 0) return false;
    // 7. A root folder in the heap.
    if (GetRootDirStartCluster() < exfat::kFirstCluster) return false;
    // 8. The FAT before the heap, both inside the volume.
    if (fatStart > total || heap > total || fatStart + fatLength > heap) return false;
    // 9. The heap ends inside the volume (a shift of at most 25 and 32-bit counts fit in 64 bits).
    return ((clusters - 1) << clusterShift) + heap <= total;
}

u64 CExFatDBR::GetTotalSectors() const { return m_sector.Le64(b::kVolumeLength).value_or(0); }
u32 CExFatDBR::GetFatStartSector() const { return m_sector.Le32(b::kFatOffset).value_or(0); }
u32 CExFatDBR::GetSectorsPerFat() const { return m_sector.Le32(b::kFatLength).value_or(0); }
u32 CExFatDBR::GetDataRegionStartSector() const { return m_sector.Le32(b::kClusterHeapOffset).value_or(0); }
u32 CExFatDBR::GetTotalCluster() const { return m_sector.Le32(b::kClusterCount).value_or(0); }
u32 CExFatDBR::GetRootDirStartCluster() const { return m_sector.Le32(b::kRootCluster).value_or(0); }
u32 CExFatDBR::GetActiveFatNumber() const { return m_sector.Le16(b::kVolumeFlags).value_or(0) & 1u; }
u32 CExFatDBR::GetBytePerSectorShift() const { return m_sector.U8(b::kBytesPerSectorShift).value_or(0); }
u32 CExFatDBR::GetSectorsPerClusterShift() const { return m_sector.U8(b::kSectorsPerClusterShift).value_or(0); }
u32 CExFatDBR::GetNumberOfFat() const { return m_sector.U8(b::kNumberOfFats).value_or(0); }

u32 CExFatDBR::GetBytePerSector() const {
    const u32 shift = GetBytePerSectorShift();
    return shift < 32 ? u32{1} << shift : 0;
}

u32 CExFatDBR::GetSectorsperCluster() const {
    const u32 shift = GetSectorsPerClusterShift();
    return shift < 32 ? u32{1} << shift : 0;
}
