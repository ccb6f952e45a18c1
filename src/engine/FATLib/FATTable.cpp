#include "engine/FATLib/FATTable.h"

#include "engine/StorageDevice/IStorageDevice.h"

namespace {

u32 SectorSizeOf(IStorageDevice* device) {
    return device != nullptr ? device->GetSectorSize() : 512;
}

// Sector size / 512: the table length bounds below are counted in 512-byte sectors.
u32 Scale(IStorageDevice* device) {
    return SectorSizeOf(device) / 512;
}

std::vector<u32> Entries(const std::vector<u8>& buffer, u32 count, bool fat32) {
    const ByteReader table(buffer);
    std::vector<u32> out(count);
    for (u32 i = 0; i < count; ++i) {
        out[i] = fat32 ? table.Le32(u64{i} * 4).value_or(0) : table.Le16(u64{i} * 2).value_or(0);
    }
    return out;
}

}  // namespace

IRealFATTable::IRealFATTable(IStorageDevice* device, i64 firstSector, u32 sectors, u32 entryWidth, u32 minSectors,
                             u32 maxSectors)
    : m_device(device), m_firstSector(firstSector), m_sectors(sectors), m_sectorSize(SectorSizeOf(device)) {
    m_entryCount = static_cast<u32>(u64{m_sectorSize} * sectors / entryWidth);
    if (device == nullptr || sectors < minSectors || sectors > maxSectors || minSectors > maxSectors) return;
    if (firstSector < 0 || firstSector + sectors > device->GetTotalSectors()) return;
    m_buffer.resize(u64{m_sectorSize} * sectors);
    if (device->ReadSector(m_buffer.data(), firstSector, sectors) == 0) m_buffer.clear();
}

// ---- FAT12 -----------------------------------------------------------------------------------------

CFAT12Table::CFAT12Table(IStorageDevice* device, i64 firstSector, u32 sectors)
    : IRealFATTable(device, firstSector, sectors, 4, 1, 12) {}

u32 CFAT12Table::GetNextCluster(u32 cluster) {
    // Both bytes of the word must lie inside the table.
    const std::optional<u16> read = ByteReader(m_buffer).Le16(u64{cluster} * 3 / 2);
    if (!read) return 0;
    const u16 word = *read;
    const u32 value = (cluster & 1) ? (word >> 4) : (word & 0x0FFF);
    if (value == 0xFFF) return 0xFFFFFFFF;
    if (value >= 0xFF8) return fat::kEndOfChain;
    return value;
}

bool CFAT12Table::IsValidFATTable() {
    if (m_buffer.size() < 4) return false;
    return (Entry32(0) & 0x00FFFFF0) == 0x00FFFFF0;
}

// ---- FAT16 -----------------------------------------------------------------------------------------

CFAT16Table::CFAT16Table(IStorageDevice* device, i64 firstSector, u32 sectors)
    : IRealFATTable(device, firstSector, sectors, 2, 12 / Scale(device), 256 / Scale(device)) {}

u32 CFAT16Table::GetNextCluster(u32 cluster) {
    if (m_buffer.empty() || cluster >= m_entryCount) return 0;
    const u32 value = Entry16(cluster);
    if (value == 0xFFF7) return fat::kBadCluster;
    if (value > 0xFFF7) return fat::kEndOfChain;
    return value;
}

bool CFAT16Table::IsValidFATTable() {
    if (m_buffer.size() < 4) return false;
    if ((Entry32(0) & 0x7FFFFFF8) != 0x7FFFFFF8) return false;
    const std::vector<u32> entries = Entries(m_buffer, m_entryCount, false);
    return fat::CheckFATBody(entries, false) && fat::CheckFATIndex(entries, false);
}

// ---- FAT32 -----------------------------------------------------------------------------------------

CFAT32Table::CFAT32Table(IStorageDevice* device, i64 firstSector, u32 sectors)
    : IRealFATTable(device, firstSector, sectors, 4, 256 / Scale(device), 128000 / Scale(device)) {}

u32 CFAT32Table::GetNextCluster(u32 cluster) {
    if (m_buffer.empty() || cluster >= m_entryCount) return 0;
    return Entry32(cluster);
}

bool CFAT32Table::IsValidFATTable() {
    if (m_buffer.size() < 8) return false;
    if ((Entry32(0) & 0x0FFFFFF0) != 0x0FFFFFF0 || (Entry32(1) & 0x07FFFFF8) != 0x07FFFFF8) return false;
    const std::vector<u32> entries = Entries(m_buffer, m_entryCount, true);
    return fat::CheckFATBody(entries, true) && fat::CheckFATIndex(entries, true);
}

// ---- checks ----------------------------------------------------------------------------------------

bool fat::CheckFATBody(const std::vector<u32>& entries, bool fat32) {
    const u64 n = entries.size();
    if (n < 3) return true;
    const u32 bad = fat32 ? 0x0FFFFFF7 : 0xFFF7;
    for (u64 i = 2; i < n; ++i) {
        const u32 e = entries[i];
        if (e >= n && e < bad) return false;
        if (e == 1 || e == i) return false;
    }
    return true;
}

bool fat::CheckFATIndex(const std::vector<u32>& entries, bool fat32) {
    const u64 n = entries.size();
    if (n < 3) return true;
    const u32 last = fat32 ? 0x0FFFFFF6 : 0xFFF6;
    // The cluster after c, or 0 where the chain ends (values at or past n were refused by the body
    // check; they end the chain all the same).
    auto next = [&entries, n, last](u64 c) -> u64 {
        const u32 e = entries[c];
        return (e < 2 || e > last || e >= n) ? 0 : e;
    };
    constexpr u8 kReached = 1;  // some cluster leads here
    constexpr u8 kVisited = 2;  // walked from the first cluster of its chain
    std::vector<u8> state(n, 0);
    for (u64 c = 2; c < n; ++c) {
        const u64 e = next(c);
        if (e == 0) continue;
        if (state[e] & kReached) return false;  // two clusters lead to e
        state[e] |= kReached;
    }
    // No cluster has two predecessors, so the chains are apart: walked from their first clusters, each
    // cluster is visited once. A cluster never visited lies on a loop (nothing outside it leads in).
    for (u64 c = 2; c < n; ++c) {
        if (state[c] & kReached) continue;
        for (u64 cur = c; cur != 0 && !(state[cur] & kVisited); cur = next(cur)) state[cur] |= kVisited;
    }
    for (u64 c = 2; c < n; ++c) {
        if (!(state[c] & kVisited)) return false;
    }
    return true;
}

// ---- pair and factory -------------------------------------------------------------------------------

u32 CDoubleFATTable::GetNextCluster(u32 cluster) {
    if (m_first) return m_first->GetNextCluster(cluster);
    if (m_second) return m_second->GetNextCluster(cluster);
    return 0;
}

IRealFATTable* IFATTableFactory::CreateRealFATTable(IStorageDevice* device, u32 type, i64 start, u32 sectors) {
    IRealFATTable* table = nullptr;
    switch (type) {
        case FILE_SYSTEM_FAT32:
            table = new CFAT32Table(device, start, sectors);
            break;
        case FILE_SYSTEM_FAT16:
            table = new CFAT16Table(device, start, sectors);
            break;
        case FILE_SYSTEM_FAT12:
            table = new CFAT12Table(device, start, sectors);
            break;
        default:
            return nullptr;
    }
    if (!table->IsValidFATTable()) {
        delete table;
        return nullptr;
    }
    return table;
}

CDoubleFATTable* IFATTableFactory::CreateFATTable(IStorageDevice* device, i64 tableStart, u32 type, u32 sectorsPerTable,
                                                  bool wantFirst, bool wantSecond) {
    IRealFATTable* first = nullptr;
    IRealFATTable* second = nullptr;
    if (wantFirst || !wantSecond) first = CreateRealFATTable(device, type, tableStart, sectorsPerTable);
    if (wantSecond && first == nullptr) {
        second = CreateRealFATTable(device, type, tableStart + i64{sectorsPerTable}, sectorsPerTable);
    }
    return new CDoubleFATTable(first, second);
}

// ---- header tests ------------------------------------------------------------------------------------

bool CFATTableAnalyser::CheckFATHeader(const u8* s, u32 type) {
    // The first two entries of a FAT32 table, and the first 32-bit word of a FAT12/16 one.
    const ByteReader head(s, 8);
    const u32 word0 = head.Le32(0).value_or(0);
    const u32 word1 = head.Le32(4).value_or(0);
    switch (type) {
        case FILE_SYSTEM_FAT32:
            return (word0 & 0x0FFFFFF0) == 0x0FFFFFF0 && (word1 & 0x07FFFFF8) == 0x07FFFFF8;
        case FILE_SYSTEM_FAT16:
            return (word0 & 0x7FFFFFF8) == 0x7FFFFFF8;
        case FILE_SYSTEM_FAT12:
            return (word0 & 0x00FFFFF0) == 0x00FFFFF0;
        default:
            return false;
    }
}

bool CFATTableAnalyser::IsValidFATTableFirstSector(const u8* sector, u32 sectorSize, u32& type) {
    if (sector == nullptr || sectorSize < 8) return false;
    if (CheckFATHeader(sector, FILE_SYSTEM_FAT32)) {
        type = FILE_SYSTEM_FAT32;
        return true;
    }
    if (CheckFATHeader(sector, FILE_SYSTEM_FAT16)) {
        type = FILE_SYSTEM_FAT16;
        return true;
    }
    return false;
}
