// The deep searcher of the signature search: at the start of every sector of every block it asks the
// analysers whether a file begins there, keeps the files whose size is not known yet until later
// sectors (the guessing set), the look-back ring or the end of the search decide it, and hands every
// finished file to a per-category manager that publishes it.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <vector>

#include "engine/Common/FileTypeManager.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Util/BufferStorageDevice.h"

class CRAWFileManager;
class RawAnalyserLookup;

class CRAWSearchController : public ICompleteFileSystemSearchController {
public:
    static constexpr int kMaxGuessing = 32;
    static constexpr u32 kLookBackBlocks = 20;
    static constexpr u32 kBufferSpare = CBufferStorageDevice::kSpareBytes;

    CRAWSearchController();
    ~CRAWSearchController() override;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // One record for the whole device; always 1.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectorsPerBlock) override;
    int PreparetoSearch() override;
    int EndSearch(int finish) override;
    int AnalyzeBlock(i64 startSector, i64 sectorCount) override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override { m_bitmap = bitmap; }
    void SetFileSectorMap(FileSectorMap* map) override { m_sectorMap = map; }
    TBitmap* GetBitmap() override { return m_bitmap; }

    // Makes the search use these tables instead of rebuilding set 0 (the caller keeps them alive and
    // owns their analysers); for tests and tools that bring their own analysers.
    void SetAnalyserTables(RawAnalyserMap* map, RawAnalyserMultimap* multimap, RawAnalyserList* list) {
        m_ownMap = map;
        m_ownMultimap = multimap;
        m_ownList = list;
    }

    // The manager of the type's category, created on first use; null for types without a category.
    CRAWFileManager* GetFileManager(RAW_FILE_TYPE type);

    // What the search holds, for tests and the benchmark.
    int GuessingCount() const { return m_guessCount; }
    size_t FoundCount() const { return m_found.size(); }
    size_t PendingCount() const { return m_pending.size(); }
    const CBufferStorageDevice& LookBack() const { return m_lookBack; }

    // Adds 4 to count for each zero 32-bit word read backwards from count bytes before the sector end.
    static void CalcReverseBufferZeroCnt(unsigned char* sector, int length, int& count);

private:
    using RecordList = std::list<CRawFileInfo*>;
    struct Guess {
        CRawFileInfo* record;
        RecordList::iterator inFound;
    };

    void AddRawFileInfoToList(CRawFileInfo* record, unsigned char* sector, i64 sectorNumber);
    void CalcRawFileSize(unsigned char* sector, i64 sectorNumber, CRawFileInfo::SearchContext& ctx,
                         CRawFileInfo* foundHere);
    void SizePendingFromLookBack(i64 blockSectors);
    // Hands a sized record to its category manager; false when the type has none.
    bool Publish(CRawFileInfo* record);
    // Shortens a size that runs past the last sector of the device.
    void ClampToDevice(CRawFileInfo* record) const;
    void AnalyzeSectors(i64 startSector, i64 sectorCount);
    // What LookUp did with a sector: the record it keeps for a file found there (or none), and whether
    // the search is done with the sector (the open guesses do not read it).
    struct LookUpResult {
        CRawFileInfo* found;
        bool done;
    };
    // Asks the analysers about a sector that may begin a file and keeps what one found. Kept out of the
    // sector loop, which most sectors pass through without it.
    [[gnu::noinline]] LookUpResult LookUp(unsigned char* sector, i64 sectorNumber,
                                          const CRawFileInfo::SearchContext& ctx);
    void FinishBlock(i64 sectorCount);
    void ClearRecords();

    CFileTypeManager m_fileTypeManager;
    std::map<u32, CRAWFileManager*> m_managers;
    IStorageDevice* m_device = nullptr;
    i32 m_sectorsPerBlock = 0;
    IDirecotryTreeBuilder* m_builder = nullptr;
    CBufferStorageDevice m_lookBack;
    RecordList m_found;
    RecordList m_pending;
    FileSectorMap* m_sectorMap = nullptr;
    bool m_windowReady = false;  // the look-back ring is set up as the reading window
    TBitmap* m_bitmap = nullptr;
    u32 m_sectorSize = 512;
    Guess m_guessing[kMaxGuessing] = {};
    CRawFileInfo m_scratch;  // what the analysers asked about a sector say
    i32 m_guessCount = 0;

    IProgress* m_progress = nullptr;
    std::unique_ptr<RawAnalyserLookup> m_lookup;
    bool m_refused = false;
    RawAnalyserMap* m_ownMap = nullptr;
    RawAnalyserMultimap* m_ownMultimap = nullptr;
    RawAnalyserList* m_ownList = nullptr;  // sector size not supported, or no tree builder
};

ICompleteFileSystemSearchController* CreateRAWSearcher();
