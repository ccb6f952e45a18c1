#include "engine/PartitionTableAnalyze/PartitionTableEntry.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"

void CPartitionTableEntry::InitFromBuffer(const u8* buffer) { std::memcpy(m_bytes, buffer, kSize); }

bool CPartitionTableEntry::IsValidPartitionTableEntry() const {
    return std::any_of(m_bytes, m_bytes + kSize, [](u8 b) { return b != 0; });
}

bool CPartitionTableEntry::IsExtenedPartition() const {
    return GetPartitionType() == 0x05 || GetPartitionType() == 0x0F;
}

u32 CPartitionTableEntry::GetLeadSectors() const {
    return ByteReader(m_bytes, kSize).Le32(mbr_layout::kFirstSector).value_or(0);
}

u32 CPartitionTableEntry::GetTotalSectors() const {
    return ByteReader(m_bytes, kSize).Le32(mbr_layout::kSectorCount).value_or(0);
}
