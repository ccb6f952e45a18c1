// File allocation tables held whole in memory: one class per FAT width, a pair of copies behind one
// interface, and the factory that picks the copy to believe.
#pragma once

#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/FATLib/FATTypes.h"

class IStorageDevice;

class IFATTable {
public:
    virtual ~IFATTable() = default;
    // The cluster after `cluster`; 0x0FFFFFF7 bad, 0x0FFFFFF8 end of chain, 0 no answer.
    virtual u32 GetNextCluster(u32 cluster) = 0;
};

class IRealFATTable : public IFATTable {
public:
    virtual bool IsValidFATTable() = 0;

    u32 GetEntryCount() const { return m_entryCount; }
    bool HasBuffer() const { return !m_buffer.empty(); }

protected:
    // Reads `sectors` sectors at `firstSector` when the length is within [minSectors, maxSectors].
    IRealFATTable(IStorageDevice* device, i64 firstSector, u32 sectors, u32 entryWidth, u32 minSectors, u32 maxSectors);
    // Entries past the table read as 0 (free).
    u32 Entry32(u32 index) const { return ByteReader(m_buffer).Le32(u64{index} * 4).value_or(0); }
    u32 Entry16(u32 index) const { return ByteReader(m_buffer).Le16(u64{index} * 2).value_or(0); }

    IStorageDevice* m_device;
    i64 m_firstSector;
    u32 m_sectors;
    u32 m_entryCount = 0;
    std::vector<u8> m_buffer;
    u32 m_sectorSize;
};

class CFAT12Table : public IRealFATTable {
public:
    CFAT12Table(IStorageDevice* device, i64 firstSector, u32 sectors);
    u32 GetNextCluster(u32 cluster) override;
    bool IsValidFATTable() override;
};

class CFAT16Table : public IRealFATTable {
public:
    CFAT16Table(IStorageDevice* device, i64 firstSector, u32 sectors);
    u32 GetNextCluster(u32 cluster) override;
    bool IsValidFATTable() override;
};

class CFAT32Table : public IRealFATTable {
public:
    CFAT32Table(IStorageDevice* device, i64 firstSector, u32 sectors);
    u32 GetNextCluster(u32 cluster) override;
    bool IsValidFATTable() override;
};

// The two copies of a volume's table; asks the first when present, else the second. Owns both.
class CDoubleFATTable : public IFATTable {
public:
    CDoubleFATTable(IRealFATTable* first, IRealFATTable* second) : m_first(first), m_second(second) {}
    u32 GetNextCluster(u32 cluster) override;
    IRealFATTable* First() const { return m_first.get(); }
    IRealFATTable* Second() const { return m_second.get(); }

private:
    std::unique_ptr<IRealFATTable> m_first;
    std::unique_ptr<IRealFATTable> m_second;
};

class IFATTableFactory {
public:
    // Always a table pair (possibly without copies); the caller destroys it with DestroyFATTable.
    static CDoubleFATTable* CreateFATTable(IStorageDevice* device, i64 tableStart, u32 type, u32 sectorsPerTable,
                                           bool wantFirst, bool wantSecond);
    // A valid table of the type (0 FAT12, 1 FAT16, 2 FAT32), or none.
    static IRealFATTable* CreateRealFATTable(IStorageDevice* device, u32 type, i64 start, u32 sectors);
    static void DestroyFATTable(IFATTable* table) { delete table; }
};

class CFATTableAnalyser {
public:
    // The header test of the first sector of a table: FAT32 first (type 2), then FAT16 (type 1).
    static bool IsValidFATTableFirstSector(const u8* sector, u32 sectorSize, u32& type);
    static bool IsUsedCluster(u64 cluster) { return cluster >= 2 && cluster <= fat::kLastUsedCluster; }
    static bool CheckFATHeader(const u8* firstSector, u32 type);
};

// Body and chain checks over a table's entries (exposed for tests).
namespace fat {
bool CheckFATBody(const std::vector<u32>& entries, bool fat32);
bool CheckFATIndex(const std::vector<u32>& entries, bool fat32);
}  // namespace fat
