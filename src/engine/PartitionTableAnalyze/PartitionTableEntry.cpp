#include "engine/PartitionTableAnalyze/PartitionTableEntry.h"

#include <algorithm>
#include <cstring>

#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

void CPartitionTableEntry::InitFromBuffer(const u8* buffer) { std::memcpy(m_bytes, buffer, kSize); }

bool CPartitionTableEntry::IsValidPartitionTableEntry() const {
    return std::any_of(m_bytes, m_bytes + kSize, [](u8 b) { return b != 0; });
}

bool CPartitionTableEntry::IsExtenedPartition() const {
    return GetPartitionType() == 0x05 || GetPartitionType() == 0x0F;
}

u32 CPartitionTableEntry::GetLeadSectors() const { return partition_io::LittleEndian32(m_bytes + 8); }

u32 CPartitionTableEntry::GetTotalSectors() const { return partition_io::LittleEndian32(m_bytes + 12); }
