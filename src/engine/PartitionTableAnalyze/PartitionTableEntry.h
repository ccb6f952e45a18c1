// One 16-byte partition entry of a master or extended boot record.
#pragma once

#include "engine/Common/Types.h"
#include "engine/PartitionTableAnalyze/PartitionTableLayout.h"

class CPartitionTableEntry {
public:
    static constexpr u32 kSize = mbr_layout::kEntrySize;

    // Copies the 16 bytes (buffer must not be null).
    void InitFromBuffer(const u8* buffer);
    // True unless all 16 bytes are zero.
    bool IsValidPartitionTableEntry() const;
    // Types 0x05 and 0x0F only.
    bool IsExtenedPartition() const;
    bool IsEmptyEntry() const { return GetPartitionType() == 0; }
    u8 GetBootIndicator() const { return m_bytes[mbr_layout::kBootIndicator]; }
    u8 GetPartitionType() const { return m_bytes[mbr_layout::kType]; }
    u32 GetLeadSectors() const;
    u32 GetTotalSectors() const;
    // first + count - 1.
    i64 GetEndSector() const { return i64{GetLeadSectors()} + i64{GetTotalSectors()} - 1; }

private:
    u8 m_bytes[kSize] = {};
};
