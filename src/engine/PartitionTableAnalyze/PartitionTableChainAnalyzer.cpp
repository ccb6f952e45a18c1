#include "engine/PartitionTableAnalyze/PartitionTableChainAnalyzer.h"

#include <algorithm>
#include <set>
#include <vector>

#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

using namespace partition_codes;
using partition_io::HasBootSignature;
using partition_io::ReadSectors;

namespace {

CPartitionTableEntry EntryAt(const std::vector<u8>& sector, int slot) {
    CPartitionTableEntry entry;
    entry.InitFromBuffer(sector.data() + mbr_layout::kEntries + CPartitionTableEntry::kSize * slot);
    return entry;
}

bool BootFlagsValid(const std::vector<u8>& sector) {
    for (int slot = 0; slot < static_cast<int>(mbr_layout::kEntryCount); ++slot) {
        const u8 flag = EntryAt(sector, slot).GetBootIndicator();
        if (flag != 0x00 && flag != 0x80) return false;
    }
    return true;
}

// Unused slots: all zero, or of type 0 (which no partition has).
bool IsUnused(const CPartitionTableEntry& entry) { return !entry.IsValidPartitionTableEntry() || entry.IsEmptyEntry(); }

bool StartsAtListedPartition(const PartitionEntryList& out, i64 start) {
    return std::any_of(out.begin(), out.end(), [&](const PartitionEntry& e) { return e.startSector == start; });
}

}  // namespace

u64 CPartitionTableChainAnalyzer::AnalyzePartitionTableChain(IStorageDevice* disk, PartitionEntryList& out) {
    return AnalyzeMBR(disk, out);
}

bool CPartitionTableChainAnalyzer::InsertPartitionInfoToOutList(IStorageDevice* disk, const CPartitionTableEntry& entry,
                                                                i64 base, int number, PartitionEntryList& out) {
    const i64 total = disk->GetTotalSectors();
    const i64 start = base + entry.GetLeadSectors();
    if (start >= total) return false;
    i64 count = entry.GetTotalSectors();
    if (count == 0 || start + count > total) count = total - start;
    out.push_back(partition_io::MakeEntry(number, start, count));
    return true;
}

u64 CPartitionTableChainAnalyzer::AnalyzeMBR(IStorageDevice* disk, PartitionEntryList& out) {
    if (!disk) return kMbrNoDevice;
    std::vector<u8> sector;
    if (u64 error = ReadSectors(disk, 0, 1, sector)) return error;
    if (!HasBootSignature(sector)) return kMbrNoSignature;
    if (!BootFlagsValid(sector)) return kMbrBadBootFlag;
    for (int slot = 0; slot < static_cast<int>(mbr_layout::kEntryCount); ++slot) {
        const CPartitionTableEntry entry = EntryAt(sector, slot);
        if (IsUnused(entry)) continue;
        if (!entry.IsExtenedPartition()) {
            InsertPartitionInfoToOutList(disk, entry, 0, slot + 1, out);
            continue;
        }
        int number = 4;
        const i64 extendedStart = entry.GetLeadSectors();
        if (u64 error = AnalyzeEMBR(disk, extendedStart, entry.GetEndSector(), extendedStart, number, out)) return error;
    }
    return result::kSuccess;
}

u64 CPartitionTableChainAnalyzer::AnalyzeEMBR(IStorageDevice* disk, i64 extendedStart, i64 /*extendedEnd*/,
                                              i64 ebrSector, int& number, PartitionEntryList& out) {
    const i64 total = disk->GetTotalSectors();
    std::set<i64> visited;
    std::vector<u8> sector;
    // A record already read, or one past the disk's end, ends the chain.
    while (ebrSector < total && visited.insert(ebrSector).second &&
           static_cast<int>(visited.size()) <= kMaxExtendedRecords) {
        if (u64 error = ReadSectors(disk, ebrSector, 1, sector)) return error;
        if (!HasBootSignature(sector)) return kEbrNoSignature;
        if (!BootFlagsValid(sector)) return kEbrBadBootFlag;
        i64 next = -1;
        for (int slot = 0; slot < static_cast<int>(mbr_layout::kEntryCount); ++slot) {
            const CPartitionTableEntry entry = EntryAt(sector, slot);
            if (IsUnused(entry)) continue;
            if (entry.IsExtenedPartition()) {
                if (next >= 0) return kEbrTwoLinks;
                next = extendedStart + entry.GetLeadSectors();
                continue;
            }
            // A partition that is already listed: the record points back, the rest of it is skipped.
            if (StartsAtListedPartition(out, ebrSector + entry.GetLeadSectors())) break;
            if (InsertPartitionInfoToOutList(disk, entry, ebrSector, number + 1, out)) ++number;
        }
        if (next < 0) break;
        ebrSector = next;
    }
    return result::kSuccess;
}
