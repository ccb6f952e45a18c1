#include "engine/PartitionTableAnalyze/BaseGPTAnalyzer.h"

#include <algorithm>

#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

using namespace partition_codes;

u64 CBaseGPTAnalyzer::AnalyzeBaseGPT(IStorageDevice* disk, PartitionEntryList& out) {
    if (!disk) return kGptNoDevice;
    std::vector<u8> buffer;
    if (u64 error = partition_io::ReadSectors(disk, kArrayFirstSector, kArraySectors, buffer)) return error;
    return AnalyzeBaseGPTInBuf(disk, buffer, out, kEntryCount);
}

u64 CBaseGPTAnalyzer::AnalyzeBaseGPTInBuf(IStorageDevice* disk, const std::vector<u8>& buffer,
                                          PartitionEntryList& out, int entryCount) {
    if (!disk) return kGptNoDevice;
    const size_t fit = buffer.size() / kEntrySize;
    const int entries = static_cast<int>(std::min<size_t>(fit, static_cast<size_t>(std::max(entryCount, 0))));
    for (int i = 0; i < entries; ++i) InsertPartitionInfoToOutList(disk, buffer.data() + i * kEntrySize, i + 1, out);
    return result::kSuccess;
}

bool CBaseGPTAnalyzer::InsertPartitionInfoToOutList(IStorageDevice* disk, const u8* entry, int number,
                                                    PartitionEntryList& out) {
    static const u8 kZeroGuid[gpt_layout::kGuidSize] = {};
    const ByteReader bytes(entry, gpt_layout::kEntrySize);
    if (bytes.Equals(gpt_layout::kTypeGuid, kZeroGuid, sizeof(kZeroGuid))) return false;
    const u64 first = bytes.Le64(gpt_layout::kFirstLba).value_or(0);
    const u64 last = bytes.Le64(gpt_layout::kLastLba).value_or(0);
    const i64 total = disk->GetTotalSectors();
    // Entries outside the disk or upside down are not partitions of it.
    if (total <= 0 || first >= static_cast<u64>(total) || first > last) return false;
    i64 count = 0;
    if (last < static_cast<u64>(total))
        count = static_cast<i64>(last - first + 1);
    else
        count = total - static_cast<i64>(first);
    if (count <= kMinimumListedSectors512) return false;
    PartitionEntry listed = partition_io::MakeEntry(number, static_cast<i64>(first), count);
    static_assert(sizeof(listed.typeGuid) == gpt_layout::kGuidSize &&
                  sizeof(listed.uniqueGuid) == gpt_layout::kGuidSize);
    bytes.CopyTo(gpt_layout::kTypeGuid, listed.typeGuid, sizeof(listed.typeGuid));
    bytes.CopyTo(gpt_layout::kUniqueGuid, listed.uniqueGuid, sizeof(listed.uniqueGuid));
    out.push_back(listed);
    return true;
}
