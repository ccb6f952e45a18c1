// The deep search's analyser of the $LogFile: the file's record (where the log begins), the two
// restart pages ("RSTR") at its start, and the log record pages ("RCRD") that fill the rest. A
// restart page at sector s and a $LogFile record saying the log starts at cluster c place cluster 0
// at s - c x spc (candidates with flags 64 and 128); the sectors of every log record page are kept,
// and a candidate's $LogFile match count is the number of its log's sectors seen holding such pages.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/NTFSSearch/NTFSMetaFileAnalyzers.h"

class CNTFSFileRecord;
class CNTFSPartitionInfoBuilder;
class CSearchedNTFSPartitionInfo;

namespace ntfsdeep {
inline constexpr u32 kLogPageSize = 4096;
// The restart page: "RSTR", its update sequence number at 30, "NTFS" in UTF-16LE at 144.
inline constexpr size_t kRestartSequence = 30;
inline constexpr size_t kRestartName = 144;
// Restart pages and $LogFile records paired with each other at most this many times in a scan (a
// disk crafted with hundreds of thousands of both must not make the pairing run for hours).
inline constexpr u64 kMaxLogPairings = u64{1} << 24;
}  // namespace ntfsdeep

// The sectors of a log record page cut by the end of a block, kept until the next block completes
// it. Each log analyser holds its own.
class CSavedBuffer {
public:
    static constexpr u32 BUFFER_TOTAL_SECTOR = 8;

    // Empties it and sets the sector size (a page is 4096 bytes).
    void Reset(u32 sectorSize);
    u32 PageSectors() const { return m_pageSectors; }
    bool IsHeld() const { return m_first >= 0; }
    i64 GetFirstSector() const { return m_first; }
    u32 GetHeldSectors() const { return m_held; }
    // Holds `count` sectors (fewer than a page) starting at device sector `first`.
    void InitBuffer(const u8* buffer, i64 first, u32 count);
    // Completes the held page from the block starting at `first` when the block continues it and holds
    // enough sectors; `consumed` gets the sectors taken from the block. False otherwise.
    bool AddBuffer(const u8* buffer, i64 first, i64 count, u32& consumed);
    const u8* Page() const { return m_buffer.data(); }
    void Clear() {
        m_first = -1;
        m_held = 0;
    }

private:
    std::array<u8, ntfsdeep::kLogPageSize> m_buffer{};
    u32 m_sectorSize = 512;
    u32 m_pageSectors = BUFFER_TOTAL_SECTOR;
    u32 m_held = 0;
    i64 m_first = -1;
};

class CLogFileAnalyzer {
public:
    // Pages are cut into sectors of the builder's sector size.
    explicit CLogFileAnalyzer(CNTFSPartitionInfoBuilder& builder);

    // A whole restart page: "RSTR", "NTFS" at 144 and the update sequence number at the end of each of
    // its eight 512-byte sectors.
    static bool IsValidRSTRRecord(const u8* buffer, size_t size);
    void AnalyzeRSTRRecord(i64 sector, const u8* buffer, size_t size);
    void AnalyzeLogFileFileRecord(i64 sector, const CNTFSFileRecord& record);
    // The log record pages of a block (and the page the previous block left cut).
    void AnalyzeRCRDRecord(const u8* block, i64 first, i64 count, u32 sectorSize);
    // The same in steps, for a caller that reads every sector's first word anyway: BeginRCRDBlock
    // completes the page the previous block left cut and returns the block's first sector index to
    // test; a sector from there on that starts with IsRCRDMagic goes to AnalyzeRCRDAt, which returns
    // the next index to test (past the page it took, or count once the block's end cut a page).
    static bool IsRCRDMagic(u32 firstWord) { return firstWord == kRecordPageMagic; }
    i64 BeginRCRDBlock(const u8* block, i64 first, i64 count);
    i64 AnalyzeRCRDAt(const u8* block, i64 first, i64 count, i64 index, u32 sectorSize);
    void CalcLogFileMatch(CSearchedNTFSPartitionInfo& candidate) const;
    int IsaMetaFileRecordNotNeedtoCount(const CNTFSFileRecord&) const {
        return m_infos.size() >= ntfsdeep::kMaxListEntries ? 1 : 0;
    }

    const CMetaFileAnalyzer& Store() const { return m_store; }
    const std::vector<i64>& Restarts() const { return m_restarts; }
    size_t InfoCount() const { return m_infos.size(); }

private:
    static constexpr u32 kRecordPageMagic = u32('R') | u32('C') << 8 | u32('R') << 16 | u32('D') << 24;
    void AnalyzePage(i64 sector, const u8* page);
    // False once the pairing budget is spent.
    bool Pairing();

    CNTFSPartitionInfoBuilder& m_builder;
    CSavedBuffer m_saved;
    std::vector<std::unique_ptr<CLogFileInfo>> m_infos;
    std::vector<i64> m_restarts;  // sectors of the restart pages, in order of discovery
    CMetaFileAnalyzer m_store;
    u64 m_pairings = 0;
};
