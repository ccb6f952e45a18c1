// The exFAT allocation table, read from the device on demand in pieces of 1 MiB (262,144 entries; a
// piece at the FAT's end holds its own sectors only), at most nine kept; the piece with the lowest first
// sector leaves first.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "engine/Common/Types.h"

class IStorageDevice;

class CFatTable {
public:
    static constexpr u32 kPieceBytes = 1u << 20;
    static constexpr u32 kEntriesPerPiece = kPieceBytes / 4;
    static constexpr size_t kMaxPieces = 9;

    CFatTable() = default;
    virtual ~CFatTable() { ClearFatData(); }
    CFatTable(const CFatTable&) = delete;
    CFatTable& operator=(const CFatTable&) = delete;

    // Loads the first piece of the FAT that starts at fatStart and is fatLength sectors long. A FAT that
    // does not end before the device's last sector, or an unreadable first piece, leaves the table invalid.
    void CreateFatTable(IStorageDevice* device, i64 fatStart, u32 fatLength, u32 clusterCount);
    // The raw entry of a cluster, or 0xFFFFFFFF when the table is invalid or the piece cannot be read.
    u32 GetNextCluster(u32 cluster);
    bool IsValid() const { return !m_pieces.empty(); }
    // Releases every piece; the device stays.
    void ClearFatData();

    size_t GetCachedPieceCount() const { return m_pieces.size(); }
    bool IsPieceCached(i64 firstSector) const { return m_pieces.count(firstSector) != 0; }

protected:
    IStorageDevice* m_device = nullptr;

private:
    // Reads the FAT's sectors of the piece that begins at first (a piece's worth or up to the FAT's
    // end, clipped to the device's end); false when none can be read.
    bool ReadPiece(std::vector<u8>& piece, i64 first);

    i64 m_fatStart = 0;
    u32 m_fatLength = 0;
    u32 m_sectorsPerPiece = 0;
    u32 m_fatSectorSize = 0;
    std::map<i64, std::vector<u8>> m_pieces;
};
