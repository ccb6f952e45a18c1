#include "engine/EXFatSearch/FatTable.h"

#include <algorithm>
#include <new>

#include "engine/Common/ByteReader.h"
#include "engine/StorageDevice/IStorageDevice.h"

void CFatTable::CreateFatTable(IStorageDevice* device, i64 fatStart, u32 fatLength, u32 /*clusterCount*/) {
    if (device == nullptr) return;
    if (fatLength == 0 || fatStart < 0 || fatStart + i64{fatLength} >= device->GetTotalSectors()) return;
    ClearFatData();
    m_device = device;
    m_fatStart = fatStart;
    m_fatLength = fatLength;
    const u32 sectorSize = device->GetSectorSize();
    // Pieces are whole sectors: a sector size that does not divide 1 MiB cannot hold a FAT we read.
    if (sectorSize == 0 || kPieceBytes % sectorSize != 0) return;
    m_fatSectorSize = sectorSize;
    m_sectorsPerPiece = kPieceBytes / sectorSize;
    std::vector<u8> piece;
    if (!ReadPiece(piece, fatStart)) return;
    m_pieces.emplace(fatStart, std::move(piece));
}

bool CFatTable::ReadPiece(std::vector<u8>& piece, i64 first) {
    // A piece holds the FAT's own sectors only: a FAT shorter than a piece makes a piece as short (the
    // entries past it read as free), and nothing past the FAT is read as entries.
    const i64 fatEnd = m_fatStart + i64{m_fatLength};
    const i64 sectors = std::min<i64>(m_sectorsPerPiece, fatEnd - first);
    const i64 deviceSectors = m_device->GetTotalSectors();
    if (sectors <= 0 || first >= deviceSectors) return false;
    try {
        piece.assign(size_t(sectors) * m_fatSectorSize, 0);
    } catch (const std::bad_alloc&) {
        piece.clear();
        return false;
    }
    const i64 count = std::min<i64>(sectors, deviceSectors - first);
    return m_device->ReadSector(piece.data(), first, count) != 0;
}

u32 CFatTable::GetNextCluster(u32 cluster) {
    if (m_pieces.empty() || m_sectorsPerPiece == 0) return 0xFFFFFFFFu;
    const u64 sectorIndex = u64{cluster} * 4 / m_fatSectorSize;
    const i64 key = m_fatStart + static_cast<i64>(sectorIndex - sectorIndex % m_sectorsPerPiece);
    const size_t offset = size_t{cluster % kEntriesPerPiece} * 4;
    // Past the FAT's sectors there are no entries: free, as the zeros of a short piece always read.
    if (key >= m_fatStart + i64{m_fatLength}) return 0;
    auto it = m_pieces.find(key);
    if (it == m_pieces.end()) {
        std::vector<u8> piece;
        if (m_pieces.size() >= kMaxPieces) {
            // The lowest piece leaves; its buffer is reused.
            piece = std::move(m_pieces.begin()->second);
            m_pieces.erase(m_pieces.begin());
        }
        if (!ReadPiece(piece, key)) return 0xFFFFFFFFu;
        it = m_pieces.emplace(key, std::move(piece)).first;
    }
    if (offset + 4 > it->second.size()) return 0;
    return ByteReader(it->second.data(), it->second.size()).Le32(offset).value_or(0xFFFFFFFFu);
}

void CFatTable::ClearFatData() {
    m_pieces.clear();
    m_fatStart = 0;
    m_fatLength = 0;
    m_sectorsPerPiece = 0;
    m_fatSectorSize = 0;
}
