// The signature search controller over a device in memory, with fake analysers and a recording tree
// builder: publication, the guessing set and its 33rd file, the look-back ring, the end of the search,
// the bitmap and the file-sector map.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Core/SignatureTable.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/Utility/TBitmap.h"
#include "support/RecordingProgress.h"

using rawtest::MemoryDevice;
using rawtest::RecordingTreeBuilder;

namespace {

constexpr int kBlock = 8;  // sectors per block in these tests

// A guessing record that finishes after `sectors` sectors (never when 0) with size `size`.
class FakeGuess : public CRawFileInfo {
public:
    FakeGuess(int sectors, u64 size) : m_sectors(sectors), m_finalSize(size) {}
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char* sector, long long number) override {
        removedWithSector = sector != nullptr;
        removedAt = number;
    }
    int CalcRawSize(unsigned char*, int, long long, SearchContext&) override {
        ++seen;
        if (m_sectors != 0 && seen >= m_sectors) {
            m_size = m_finalSize;
            return RAW_SIZE_FINISHED;
        }
        if (keepsSize) m_size = m_finalSize;  // a size known but never declared finished
        return RAW_SIZE_CONTINUE;
    }
    int seen = 0;
    bool removedWithSector = false;
    long long removedAt = 0;
    bool keepsSize = false;

private:
    int m_sectors;
    u64 m_finalSize;
};

struct Sizing {
    u32 deviceType;
    i64 start;
};

// Accepts sectors starting with its 4-byte magic; the rest is configurable.
class FakeAnalyser : public IRawFileAnalyser {
public:
    explicit FakeAnalyser(RAW_FILE_TYPE type) : IRawFileAnalyser(static_cast<i32>(type)) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override {
        if (asked) asked(sector);
        info.m_type = static_cast<RAW_FILE_TYPE>(m_defaultType);
        info.m_size = headerSize;
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override {
        CRawFileInfo* r = create ? create() : new CRawFileInfo();
        if (r != nullptr) created.push_back(r);
        return r;
    }
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override {
        sized.push_back({device->GetType(), info.m_startSector});
        if (sizeOnDevice) info.m_size = sizeOnDevice(info, device);
        return true;
    }
    void ResetFollowState() override { ++resets; }

    u64 headerSize = 0;
    std::function<void(const unsigned char*)> asked;  // sees the sector in the search's window
    std::function<CRawFileInfo*()> create;
    std::function<u64(CRawFileInfo&, IStorageDevice*)> sizeOnDevice;
    std::vector<CRawFileInfo*> created;  // not owned; for identity checks only
    std::vector<Sizing> sized;
    int resets = 0;
};

struct Search {
    explicit Search(std::vector<unsigned char> image) : device(std::move(image)) {}
    // The analyser is registered under magic; the tables own it.
    FakeAnalyser* Add(const char* magic, RAW_FILE_TYPE type) {
        auto* a = new FakeAnalyser(type);
        map[RawMapKey(reinterpret_cast<const unsigned char*>(magic))] = a;
        return a;
    }
    void Prepare() {
        controller.SetAnalyserTables(&map, &multimap, &list);
        controller.SetDevice(&device);
        controller.SetBlockSize(kBlock);
        controller.SetDirecotryTreeBuilder(&builder);
        controller.SetFileSectorMap(&sectorMap);
        ASSERT_EQ(controller.PreparetoSearch(), 1);
    }
    void Run(int finish = 1) {
        Prepare();
        for (i64 s = 0; s < device.GetTotalSectors(); s += kBlock) {
            controller.AnalyzeBlock(s, std::min<i64>(kBlock, device.GetTotalSectors() - s));
        }
        controller.EndSearch(finish);
    }
    ~Search() {
        CRawFileAnalyserListSingle::ClearMapContents(map);
        CRawFileAnalyserListSingle::ClearMultiMapContents(multimap);
        CRawFileAnalyserListSingle::ClearListContents(list);
    }

    MemoryDevice device;
    RawAnalyserMap map;
    RawAnalyserMultimap multimap;
    RawAnalyserList list;
    RecordingTreeBuilder builder;
    FileSectorMap sectorMap;
    CRAWSearchController controller;
};

std::vector<unsigned char> Image(size_t sectors, std::vector<std::pair<size_t, const char*>> marks) {
    std::vector<unsigned char> bytes(sectors * 512, 0);
    for (auto& [sector, magic] : marks) memcpy(bytes.data() + sector * 512, magic, 4);
    return bytes;
}

}  // namespace

TEST(RAWSearchController, HeaderSizedFileIsPublishedAtOnceUnderItsExtensionFolder) {
    Search search(Image(24, {{3, "HDR!"}, {12, "HDR!"}}));
    search.Add("HDR!", RAW_TYPE_JPG)->headerSize = 1000;
    search.Run();
    auto files = search.builder.Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "FILE000.JPG");
    EXPECT_EQ(files[1].name, "FILE001.JPG");
    EXPECT_EQ(files[0].size, 1000);
    EXPECT_EQ(files[0].type, SEARCHER_RAW);
    EXPECT_EQ(files[0].parent, 10);
    EXPECT_EQ(files[0].id, 10000);
    EXPECT_EQ(files[1].id, 10001);
    // The folder follows its first file, named by the lower-case extension, under the root 1.
    ASSERT_EQ(search.builder.received.size(), 3u);
    EXPECT_TRUE(search.builder.received[1].directory);
    EXPECT_EQ(search.builder.received[1].name, "jpg");
    EXPECT_EQ(search.builder.received[1].id, 10);
    EXPECT_EQ(search.builder.received[1].parent, 1);
    EXPECT_EQ(search.sectorMap, (FileSectorMap{{3, RAW_TYPE_JPG}, {12, RAW_TYPE_JPG}}));
    EXPECT_EQ(search.builder.searchers,
              (std::vector<std::pair<_tagSearcherType, i64>>{{SEARCHER_RAW, 1}, {SEARCHER_RAW_TAG, 1000}}));
    EXPECT_EQ(search.builder.flashed, (std::vector<_tagSearcherType>{SEARCHER_RAW, SEARCHER_RAW_TAG}));
    EXPECT_EQ(search.controller.FoundCount() + search.controller.PendingCount(), 0u);
}

TEST(RAWSearchController, TheThirtyThirdGuessEvictsTheOldestWhichIsSizedAtTheEnd) {
    std::vector<std::pair<size_t, const char*>> marks;
    for (size_t s = 10; s < 43; ++s) marks.push_back({s, "GUES"});
    Search search(Image(64, marks));
    FakeAnalyser* a = search.Add("GUES", RAW_TYPE_JPG);
    std::vector<FakeGuess*> records;
    a->create = [&records] {
        records.push_back(new FakeGuess(0, 0));
        return records.back();
    };
    a->sizeOnDevice = [](CRawFileInfo& info, IStorageDevice*) { return u64(100 + info.m_startSector); };
    search.Prepare();
    const int resetsAtStart = a->resets;
    for (i64 s = 0; s < 40; s += kBlock) search.controller.AnalyzeBlock(s, kBlock);
    EXPECT_EQ(search.controller.GuessingCount(), 30);
    search.controller.AnalyzeBlock(40, kBlock);
    EXPECT_EQ(search.controller.GuessingCount(), 32);
    ASSERT_EQ(records.size(), 33u);
    EXPECT_TRUE(records[0]->removedWithSector);
    EXPECT_EQ(records[0]->removedAt, 42) << "told at the sector of the 33rd file";
    EXPECT_EQ(records[1]->removedAt, 0) << "only the oldest gives up";
    EXPECT_EQ(a->resets, resetsAtStart + 1) << "the analyser's follow state is reset on eviction";
    for (i64 s = 48; s < 64; s += kBlock) search.controller.AnalyzeBlock(s, kBlock);
    search.controller.EndSearch(1);
    ASSERT_EQ(a->sized.size(), 33u);
    EXPECT_EQ(a->sized[0].start, 10);
    EXPECT_EQ(a->sized[0].deviceType, STORAGE_DEVICE_DISK) << "sized over the real device";
    EXPECT_EQ(search.builder.Files().size(), 33u);
}

TEST(RAWSearchController, GuessingFilesFinishPublishOrGoToTheRing) {
    Search search(Image(32, {{2, "DONE"}, {4, "GIVE"}}));
    FakeAnalyser* done = search.Add("DONE", RAW_TYPE_JPG);
    done->create = [] { return new FakeGuess(3, 1234); };
    FakeAnalyser* give = search.Add("GIVE", RAW_TYPE_JPG);
    give->create = [] { return new FakeGuess(2, 0); };
    give->sizeOnDevice = [](CRawFileInfo&, IStorageDevice*) { return u64(777); };
    search.Run();
    auto files = search.builder.Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].size, 1234);
    EXPECT_EQ(files[1].size, 777) << "given up without a size: sized by its analyser";
}

TEST(RAWSearchController, PendingFilesAreSizedFromTheRingEvenAfterAFailedBlock) {
    // The file's first sector carries the magic; the analyser checks it reads that very sector back.
    Search search(Image(kBlock * 30, {{5, "PEND"}}));
    search.device.failing.insert(3 * kBlock + 2);  // block 3 cannot be read
    FakeAnalyser* a = search.Add("PEND", RAW_TYPE_JPG);
    a->sizeOnDevice = [](CRawFileInfo& info, IStorageDevice* device) -> u64 {
        unsigned char sector[512];
        if (device->ReadSector(sector, info.m_startSector, 1) == 0) return 0;
        return memcmp(sector, "PEND", 4) == 0 ? 512 : 0;
    };
    search.Prepare();
    for (i64 s = 0; s < 21 * kBlock; s += kBlock) search.controller.AnalyzeBlock(s, kBlock);
    ASSERT_EQ(a->sized.size(), 1u) << "sized once the ring was full, before the block left it";
    EXPECT_EQ(a->sized[0].deviceType, STORAGE_DEVICE_CACHE);
    EXPECT_EQ(search.controller.LookBack().GetDeviceStartSector(), u64{kBlock}) << "one block past the first";
    search.controller.EndSearch(1);
    ASSERT_EQ(search.builder.Files().size(), 1u);
    EXPECT_EQ(search.builder.Files()[0].size, 512);
}

TEST(RAWSearchController, EveryRecordWithASizeIsPublishedAtTheEnd) {
    Search search(Image(16, {{1, "KEEP"}, {3, "NONE"}}));
    FakeAnalyser* keep = search.Add("KEEP", RAW_TYPE_JPG);
    keep->create = [] {
        auto* r = new FakeGuess(0, 4096);
        r->keepsSize = true;
        return r;
    };
    FakeAnalyser* none = search.Add("NONE", RAW_TYPE_JPG);
    none->create = [] { return new FakeGuess(0, 0); };  // never sized: dropped without a leak
    search.Run();
    auto files = search.builder.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size, 4096);
    EXPECT_EQ(search.sectorMap.count(3), 1u) << "recorded even though its size was never found";
}

TEST(RAWSearchController, BitmapSectorsAreSkippedInRunsOfItsScale) {
    std::vector<std::pair<size_t, const char*>> marks;
    for (size_t s = 0; s < 32; ++s) marks.push_back({s, "HDR!"});
    Search search(Image(32, marks));
    search.Add("HDR!", RAW_TYPE_JPG)->headerSize = 10;
    TBitmap bitmap;
    bitmap.CreateBitmap(8, 4);  // one bit per 4 sectors
    bitmap.SetBit(1, 1, 2);     // sectors 4-11
    search.controller.SetBitmap(&bitmap);
    search.Run();
    EXPECT_EQ(search.builder.Files().size(), 24u);
    EXPECT_EQ(search.sectorMap.count(4) + search.sectorMap.count(11), 0u);
    EXPECT_EQ(search.sectorMap.count(12), 1u);
    EXPECT_EQ(search.controller.GetBitmap(), nullptr) << "forgotten at the end";
}

// A stop is asked for before each run of 64 sectors of a block, marked sectors or not: the sectors of
// the runs begun before it are searched, none after it, and the search of the block ends at once.
TEST(RAWSearchController, AStopEndsTheBlockAtTheNextRunOfSectors) {
    struct Case {
        const char* name;
        int stopAfter;           // Continued() calls answered "go on"
        i64 markedFrom, marked;  // bitmap: sectors skipped (4 a bit)
        size_t searched;         // starts found
    };
    const Case cases[] = {
        {"stop at once", 0, 0, 0, 0},
        {"stop before the third run", 2, 0, 0, 128},
        {"stop before the third run, sectors 64-71 marked", 2, 64, 8, 120},
        {"no stop", -1, 0, 0, 200},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<size_t, const char*>> marks;
        for (size_t s = 0; s < 200; ++s) marks.push_back({s, "HDR!"});
        Search search(Image(200, marks));
        search.Add("HDR!", RAW_TYPE_JPG)->headerSize = 10;
        search.Prepare();
        // One block of 200 sectors.
        search.controller.SetBlockSize(200);
        ASSERT_EQ(search.controller.PreparetoSearch(), 1);
        TBitmap bitmap;
        if (c.marked != 0) {
            bitmap.CreateBitmap(50, 4);
            bitmap.SetBit(c.markedFrom / 4, 1, static_cast<u32>(c.marked / 4));
            search.controller.SetBitmap(&bitmap);
        }
        testsupport::RecordingProgress progress;
        progress.StopAfter(c.stopAfter);
        search.controller.SetIProgressSink(&progress);
        search.controller.AnalyzeBlock(0, 200);
        search.controller.SetIProgressSink(nullptr);
        EXPECT_EQ(search.sectorMap.size(), c.searched) << c.name;
        if (c.searched != 0) {
            EXPECT_EQ(search.sectorMap.rbegin()->first, static_cast<i64>(c.searched + c.marked - 1)) << c.name;
        }
        EXPECT_EQ(search.sectorMap.count(c.markedFrom), c.marked == 0 && c.searched > 0 ? 1u : 0u) << c.name;
        search.controller.EndSearch(0);
    }
}

TEST(RAWSearchController, EmptyTablesReadNothingAndBadSetupsAreRefused) {
    Search search(Image(32, {}));
    search.Prepare();
    const int reads = search.device.reads;
    search.controller.AnalyzeBlock(0, kBlock);
    EXPECT_EQ(search.device.reads, reads);
    search.controller.EndSearch(1);

    CRAWSearchController noBuilder;
    MemoryDevice dev(std::vector<unsigned char>(4096));
    noBuilder.SetDevice(&dev);
    noBuilder.SetBlockSize(kBlock);
    EXPECT_EQ(noBuilder.PreparetoSearch(), 0);
    EXPECT_EQ(noBuilder.AnalyzeBlock(0, kBlock), 1);

    MemoryDevice big(std::vector<unsigned char>(8192 * 16), 8192);
    RecordingTreeBuilder builder;
    CRAWSearchController tooLarge;
    tooLarge.SetDevice(&big);
    tooLarge.SetBlockSize(4);
    tooLarge.SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(tooLarge.PreparetoSearch(), 0) << "sectors above 4096 bytes are refused up front";
    EXPECT_EQ(tooLarge.AnalyzeBlock(0, 4), 1);
}

TEST(RAWSearchController, PartitionRecordCoversTheDevice) {
    CRAWSearchController c;
    MemoryDevice dev(std::vector<unsigned char>(4096 * 10), 4096);
    c.SetDevice(&dev);
    CSearchedPartitionInfo* out[1] = {nullptr};
    EXPECT_EQ(c.GetSearchedPartitionInfo(nullptr, 0), 1);
    EXPECT_EQ(c.GetSearchedPartitionInfo(out, 1), 1);
    ASSERT_NE(out[0], nullptr);
    EXPECT_EQ(out[0]->m_sectorSize, 4096u);
    EXPECT_EQ(out[0]->m_sectorsPerCluster, 1u);
    EXPECT_EQ(out[0]->m_weight, 1.0);
    delete out[0];
}

TEST(RAWSearchController, NoSizePassesTheDeviceEnd) {
    // A 24-sector device; each file starts at sector 20, so 4 sectors (2048 bytes) are all there is.
    struct Case {
        const char* name;
        std::function<void(FakeAnalyser*)> setUp;
        i64 size;
    } cases[] = {
        {"header-sized", [](FakeAnalyser* a) { a->headerSize = 1 << 20; }, 2048},
        {"sized from the device at the end",
         [](FakeAnalyser* a) {
             a->create = [] { return new FakeGuess(0, 0); };
             a->sizeOnDevice = [](CRawFileInfo&, IStorageDevice*) { return u64{65536}; };
         },
         2048},
        {"a guess that kept a size",
         [](FakeAnalyser* a) {
             a->create = [] {
                 auto* r = new FakeGuess(0, 3000);
                 r->keepsSize = true;
                 return r;
             };
         },
         2048},
        {"a size within the device stays", [](FakeAnalyser* a) { a->headerSize = 2047; }, 2047},
    };
    for (const Case& c : cases) {
        Search search(Image(24, {{20, "CUT!"}}));
        c.setUp(search.Add("CUT!", RAW_TYPE_JPG));
        search.Run();
        auto files = search.builder.Files();
        ASSERT_EQ(files.size(), 1u) << c.name;
        EXPECT_EQ(files[0].size, c.size) << c.name;
    }
}

TEST(RAWSearchController, TheWindowHoldsThePreviousBlockBeforeAndZerosAfterTheBlock) {
    // Every byte of block b is b + 1; the first and the last sector of each block start with the
    // magic. Enough blocks for the ring's slots to wrap more than once.
    constexpr int kBlocks = 60;
    std::vector<unsigned char> image(size_t{kBlocks} * kBlock * 512);
    for (int b = 0; b < kBlocks; ++b) {
        unsigned char* block = image.data() + size_t(b) * kBlock * 512;
        memset(block, b + 1, kBlock * 512);
        memcpy(block, "LOOK", 4);
        memcpy(block + (kBlock - 1) * 512, "LOOK", 4);
    }
    Search search(std::move(image));
    FakeAnalyser* a = search.Add("LOOK", RAW_TYPE_JPG);
    struct Seen {
        int before;  // the byte before the sector
        int after;   // the byte after it
    };
    std::vector<Seen> seen;
    a->asked = [&](const unsigned char* sector) { seen.push_back({sector[-1], sector[512]}); };
    search.Run();
    ASSERT_EQ(seen.size(), size_t{2 * kBlocks});
    for (int b = 0; b < kBlocks; ++b) {
        EXPECT_EQ(seen[2 * b].before, b) << "block " << b << ": the previous block's last byte (zeros before the first)";
        EXPECT_EQ(seen[2 * b].after, b + 1) << "block " << b;
        EXPECT_EQ(seen[2 * b + 1].before, b + 1) << "block " << b;
        EXPECT_EQ(seen[2 * b + 1].after, 0) << "block " << b << ": zeros after the block";
    }
}
