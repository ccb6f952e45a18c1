// SQLite databases and the application files kept in them (event libraries, music, design documents,
// address books). The guessing record follows the database page by page while the search reads on and
// ends it at the first page of another kind, or after a run of empty pages; there is no device analyser.
#pragma once

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class ByteReader;

namespace sqlite_layout {
inline constexpr char kMagic[] = "SQLite format 3";  // 15 characters and the terminating zero
inline constexpr size_t kPageSize = 16;              // u16 big-endian
inline constexpr size_t kChangeCounter = 24;         // u32 big-endian
inline constexpr size_t kPages = 28;                 // u32 big-endian: the database's pages, when valid
inline constexpr size_t kVersionValidFor = 92;       // u32 big-endian: kPages is valid when it equals the counter
inline constexpr size_t kFreePages = 36;             // u32 big-endian
inline constexpr size_t kEncoding = 56;              // u32 big-endian
inline constexpr size_t kCellContent = 105;          // page 1's b-tree header (at 100): u16 big-endian
inline constexpr size_t kFirstCell = 108;            // page 1's first cell pointer, u16 big-endian
inline constexpr size_t kHeaderNeeds = 110;
inline constexpr size_t kPageCells = 3;              // u16 big-endian, in the page header of pages 2 on
inline constexpr size_t kCellPointers = 8;           // a leaf page's cell pointers follow its 8-byte header
inline constexpr u32 kAddressBookMinCells = 26;
inline constexpr u32 kAddressBookMaxCells = 34;
inline constexpr u64 kNameOffset = 10;               // from a cell to the texts of its record
inline constexpr u64 kMuseTextBytes = 34;            // "tableactiveactive" in UTF-16LE
inline constexpr u64 kSketchTextBytes = 200;
inline constexpr u64 kCellTextMax = 50;
inline constexpr u32 kEmptyRunEnd = 5;
inline constexpr u64 kCap = 200000000;
inline constexpr u64 kSketchSlackPages = 3;
}  // namespace sqlite_layout

namespace BruteForce {

class CFCPEvtAnalyser : public IRawFileAnalyser {
public:
    CFCPEvtAnalyser() : IRawFileAnalyser(-1) {}
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    // "SQLite format 3", a page size that is a non-zero multiple of 1024 below 65536, a text encoding
    // of 0 to 3.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CFCPEvtFileInfo : public CRawFileInfo {
public:
    CFCPEvtFileInfo() { m_type = RAW_TYPE_SQLITE; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // Two cells of the page (a leaf with cellCount cells) that name "ABCDRecord" or "ABCDPhoneNumber".
    static bool AnalyseABCDDBFileType(const ByteReader& page, u32 cellCount);
    // The record's texts at the first cell of page 1 ("tableactiveactive" in UTF-16LE), or "payload" and
    // "metadata" in the text at the start of the cell content area: MUSE, SKETCH, or 0 for neither.
    static RAW_FILE_TYPE NameKind(const ByteReader* firstCellText, const ByteReader* contentText);

private:
    // 1 to go on, 2 when the page ends the file.
    int GuessCalculate(const ByteReader& page);
    int EndSearch(i64 p, long long sectorNumber);

    u32 m_pageSize = 0;
    u32 m_pages = 0;
    u64 m_statedSize = 0;  // pages x page size, when the header's page count is valid
    u32 m_freePages = 0;
    u32 m_cellContent = 0;
    u32 m_firstCell = 0;
    u64 m_nextPage = 0;  // file offset of the next page to look at
    bool m_first = true;
    bool m_inSequence = false;
    u32 m_run = 0;
    u8 m_lastSequenceByte = 0;
    bool m_namePending = true;
    bool m_nameLooked = false;
};

}  // namespace BruteForce
