#include "engine/PartitionTableAnalyze/APMAnaly.h"

#include <algorithm>
#include <cstring>

#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"

using namespace partition_codes;
using partition_io::BigEndian16;
using partition_io::BigEndian32;

namespace {

bool IsMapEntry(const std::vector<u8>& sector) {
    return (sector[0] == 'P' && sector[1] == 'M') || (sector[0] == 'T' && sector[1] == 'S');
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
    if (m_sector[0] != 'E' || m_sector[1] != 'R') return kApmNoDriverDescriptor;
    // A block size below the sector size (0 included) would map every block to sector 0.
    m_sectorsPerBlock = std::max(1, BigEndian16(m_sector.data() + 2) / m_sectorSize);
    if (u64 error = ReadBlock(1)) return error;
    if (!IsMapEntry(m_sector)) return kApmNoMapEntry;
    const u32 count = BigEndian32(m_sector.data() + 4);
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
        const i64 start = i64{BigEndian32(m_sector.data() + 8)} * m_sectorsPerBlock;
        i64 count = i64{BigEndian32(m_sector.data() + 12)} * m_sectorsPerBlock;
        // Entries outside the disk are not listed; one that runs past its end is cut there.
        if (start >= total || count <= 0) continue;
        count = std::min(count, total - start);
        PartitionEntry entry = partition_io::MakeEntry(i, start, count);
        std::memcpy(entry.typeName, m_sector.data() + 48, sizeof(entry.typeName));
        out.push_back(entry);
    }
    return result::kSuccess;
}
