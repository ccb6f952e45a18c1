#include "engine/PartitionTableAnalyze/APMAnaly.h"

#include <algorithm>

#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

using namespace partition_codes;

namespace {

bool IsMapEntry(const std::vector<u8>& sector) {
    const ByteReader entry(sector);
    return entry.Equals(apm_layout::kEntrySignature, "PM") || entry.Equals(apm_layout::kEntrySignature, "TS");
}

}  // namespace

u64 CAPMAnaly::ReadBlock(i64 block) { return partition_io::ReadSectors(m_disk, block * m_sectorsPerBlock, 1, m_sector); }

u64 CAPMAnaly::AnalyzePartition(IStorageDevice* disk, PartitionEntryList& out) {
    if (!disk) return kApmNoDevice;
    m_disk = disk;
    const u32 sectorSize = disk->GetSectorSize();
    if (sectorSize == 0 || sectorSize % 512 != 0 || sectorSize > 65536) return kApmBadSectorSize;
    m_sectorSize = static_cast<int>(sectorSize);
    if (u64 error = partition_io::ReadSectors(disk, 0, 1, m_sector)) return error;
    const ByteReader descriptor(m_sector);
    if (!descriptor.Equals(apm_layout::kDescriptorSignature, "ER")) return kApmNoDriverDescriptor;
    // A block size below the sector size (0 included) would map every block to sector 0.
    m_sectorsPerBlock = std::max(1, descriptor.Be16(apm_layout::kBlockSize).value_or(0) / m_sectorSize);
    if (u64 error = ReadBlock(1)) return error;
    if (!IsMapEntry(m_sector)) return kApmNoMapEntry;
    const u32 count = ByteReader(m_sector).Be32(apm_layout::kMapEntries).value_or(0);
    if (count > kMaxMapEntries) return kApmTooManyEntries;
    m_mapEntryCount = static_cast<int>(count);
    return AnalyzePartitionTable(out);
}

u64 CAPMAnaly::AnalyzePartitionTable(PartitionEntryList& out) {
    if (!m_disk) return kApmNoDevice;
    const i64 total = m_disk->GetTotalSectors();
    for (int i = 1; i <= m_mapEntryCount; ++i) {
        if (u64 error = ReadBlock(i)) return error;
        if (!IsMapEntry(m_sector)) continue;
        const ByteReader entry(m_sector);
        const i64 start = i64{entry.Be32(apm_layout::kFirstBlock).value_or(0)} * m_sectorsPerBlock;
        i64 count = i64{entry.Be32(apm_layout::kBlockCount).value_or(0)} * m_sectorsPerBlock;
        // Entries outside the disk are not listed; one that runs past its end is cut there.
        if (start >= total || count <= 0) continue;
        count = std::min(count, total - start);
        PartitionEntry listed = partition_io::MakeEntry(i, start, count);
        static_assert(sizeof(listed.typeName) == apm_layout::kTypeNameSize);
        entry.CopyTo(apm_layout::kTypeName, listed.typeName, sizeof(listed.typeName));
        out.push_back(listed);
    }
    return result::kSuccess;
}
