// The deep search's directory-sector pre-analysis: file sets from runs of directory sectors, sets cut at a
// sector edge read on in memory or joined with their rest found elsewhere, the cluster-size bounds a set
// implies and the clusters its files claim.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/EXFatSearch/FDTPreAnalyze.h"
#include "engine/EXFatSearch/FileSet.h"

using exfattest::MakeSet;
using exfattest::SetShape;

namespace {

constexpr u32 kSector = 512;
constexpr u64 kTotalSectors = u64{1} << 40;

// A run of device sectors in memory.
struct Disk {
    std::vector<u8> bytes;
    explicit Disk(size_t sectors) : bytes(sectors * kSector, 0) {}
    void Put(size_t sector, size_t slot, const std::vector<u8>& data) {
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<long>(sector * kSector + slot * 32));
    }
    ByteReader From(size_t sector) const {
        return ByteReader(bytes.data() + sector * kSector, bytes.size() - sector * kSector);
    }
};

// Sectors offered in order as the deep search offers them: a sector whose first byte is 0 only hands the
// finished set over; any other is analysed, and a finished set is handed over.
std::vector<std::unique_ptr<CFileSet>> Offer(CFDTPreAnaylze& pre, const Disk& disk, size_t from, size_t to) {
    std::vector<std::unique_ptr<CFileSet>> sets;
    for (size_t s = from; s < to; ++s) {
        bool take = disk.bytes[s * kSector] == 0;
        if (!take) take = pre.Analyze(static_cast<long long>(s), disk.From(s));
        if (take) {
            if (auto set = pre.TakeFileSet()) sets.push_back(std::move(set));
        }
    }
    if (auto set = pre.TakeFileSet()) sets.push_back(std::move(set));
    return sets;
}

CFDTPreAnaylze Prepared() {
    CFDTPreAnaylze pre;
    pre.PrepareAnayze(9, 25, kTotalSectors);
    return pre;
}

SetShape File(std::u16string name, u32 cluster, u64 length, bool folder = false, bool deleted = false) {
    SetShape shape;
    shape.name = std::move(name);
    shape.firstCluster = cluster;
    shape.length = length;
    shape.attributes = folder ? 0x10 : 0x20;
    shape.deleted = deleted;
    return shape;
}

std::vector<u8> Entry(u8 type, u32 cluster, u64 length) {
    std::vector<u8> e(32, 0);
    ByteWriter w(e);
    w.U8(0, type);
    if (type == exfat::entry::kVolumeLabel) {
        w.U8(exfat::label::kCharacterCount, 2);
        w.Le16(exfat::label::kCharacters, 'N');
        w.Le16(exfat::label::kCharacters + 2, 'M');
    } else {
        w.Le32(exfat::bitmap::kFirstCluster, cluster);
        w.Le64(exfat::bitmap::kDataLength, length);
    }
    return e;
}

const std::u16string kTwoNameEntries = u"a-name-that-needs-two-entries";  // 3 secondaries

// Fills the first `slots` entries of a sector with small in-use files (3 or 4 entries each, clusters from
// `cluster` up): a folder sector in use is full up to its set that runs on.
void Fill(Disk& disk, size_t sector, size_t slots, u32 cluster) {
    size_t at = 0;
    while (at < slots) {
        const size_t left = slots - at;
        const bool four = left % 3 != 0 && left >= 4;
        const std::u16string name = four ? u"long-filler-name-" + std::u16string(1, u'a' + cluster % 26) : u"f";
        disk.Put(sector, at, MakeSet(File(name, cluster++, 100)));
        at += four ? 4 : 3;
    }
}

std::vector<std::string> Names(const CFileSet& set) {
    std::vector<std::string> out;
    for (const auto& f : set.InUseFiles()) out.push_back(set.Name(f));
    for (const auto& f : set.DeletedFiles()) out.push_back("~" + set.Name(f));
    return out;
}

}  // namespace

TEST(ExFatPreAnalyze, SetsOfDirectorySectorsCarryTheirFilesFlagsAndBounds) {
    Disk disk(16);
    // Sector 2: a root folder's first sector. Sector 3: its next sector, a deleted file and a sub-folder.
    disk.Put(2, 0, Entry(exfat::entry::kVolumeLabel, 0, 0));
    disk.Put(2, 1, Entry(exfat::entry::kBitmap, 2, 1000));
    disk.Put(2, 2, Entry(exfat::entry::kUpcase, 3, 5836));
    disk.Put(2, 3, MakeSet(File(u"b.txt", 30, 100)));
    disk.Put(2, 6, MakeSet(File(u"a.txt", 20, 100)));
    disk.Put(2, 9, MakeSet(File(u"gone.bin", 25, 7, false, true)));
    disk.Put(2, 12, MakeSet(File(u"a-longer-name-of-20", 28, 100)));
    disk.Put(3, 0, MakeSet(File(u"sub", 12, 12288, true)));
    // Sector 6: label and bitmap only, then a file: not a root set.
    disk.Put(6, 0, Entry(exfat::entry::kVolumeLabel, 0, 0));
    disk.Put(6, 1, Entry(exfat::entry::kBitmap, 2, 1000));
    disk.Put(6, 2, MakeSet(File(u"c.txt", 40, 1)));

    CFDTPreAnaylze pre = Prepared();
    const auto sets = Offer(pre, disk, 0, 14);
    ASSERT_EQ(sets.size(), 2u);
    const CFileSet& root = *sets[0];
    EXPECT_TRUE(root.IsRoot());
    EXPECT_EQ(root.GetFirstSector(), 2);
    EXPECT_EQ(root.GetSectorCounts(), 2u);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"sub", "a.txt", "a-longer-name-of-20", "b.txt", "~gone.bin"}));  // by first cluster
    EXPECT_EQ(root.Folders(), std::vector<u32>{12});
    EXPECT_EQ(root.GetMinCluster(), 12u);
    EXPECT_EQ(root.GetMaxCluster(), 30u);
    EXPECT_EQ(root.GetRootCluster(), 4u);  // above the bitmap's and the up-case table's clusters
    EXPECT_EQ(root.GetTotalCluster(), 8000u);
    EXPECT_EQ(root.GetUpaCaseTableCluster(), 3u);
    EXPECT_EQ(root.GetUpaCaseTableSize(), 5836u);
    EXPECT_EQ(root.GetMaxClusterSize(), 8u);  // the 12,288-byte folder: at most 4096 bytes
    EXPECT_FALSE(root.IsAbridged());
    EXPECT_FALSE(root.IsNotEnd());

    const CFileSet& other = *sets[1];
    EXPECT_FALSE(other.IsRoot());
    EXPECT_EQ(other.GetFlags() & 0x7, 0x3u);
    EXPECT_EQ(other.GetFirstSector(), 6);
    EXPECT_EQ(Names(other), std::vector<std::string>{"c.txt"});
}

TEST(ExFatPreAnalyze, EdgeCasesOfOneSector) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, std::vector<u8>>> entries;  // slot, bytes in sector 1
        bool finished;
        bool handedOver;
    };
    const std::vector<Case> cases = {
        {"a zero sector ends at once", {}, true, false},
        {"label and bitmap only are kept, not handed over",
         {{0, Entry(exfat::entry::kVolumeLabel, 0, 0)}, {1, Entry(exfat::entry::kBitmap, 2, 8)}}, true, false},
        {"label, bitmap and up-case make a root set",
         {{0, Entry(exfat::entry::kVolumeLabel, 0, 0)}, {1, Entry(exfat::entry::kBitmap, 2, 8)},
          {2, Entry(exfat::entry::kUpcase, 3, 5836)}},
         true, true},
        {"a full sector of files runs on", [] {
             std::vector<std::pair<size_t, std::vector<u8>>> e;
             for (size_t s = 0; s + 3 <= 16; s += 3) e.push_back({s, MakeSet(File(u"f", 10 + static_cast<u32>(s), 1))});
             e.push_back({15, Entry(exfat::entry::kVolumeLabel, 0, 0)});
             return e;
         }(), false, true},
        {"a second bitmap entry in one sector ends it",
         {{0, Entry(exfat::entry::kBitmap, 2, 8)}, {1, Entry(exfat::entry::kBitmap, 5, 8)}, {2, MakeSet(File(u"x", 9, 1))}},
         true, false},
        {"a type not handled ends the sector", {{0, MakeSet(File(u"x", 9, 1))}, {3, Entry(0x84, 0, 0)}}, true, true},
        {"U+00FF passes the name table", {{0, MakeSet(File(u"\u00ff", 9, 1))}}, true, true},
        {"a refused name character ends the sector",
         {{0, MakeSet(File(u"a:b", 9, 1))}, {3, MakeSet(File(u"x", 10, 1))}}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk(4);
        for (const auto& [slot, bytes] : c.entries) disk.Put(1, slot, bytes);
        CFDTPreAnaylze pre = Prepared();
        EXPECT_EQ(pre.Analyze(1, disk.From(1)), c.finished);
        const auto set = pre.TakeFileSet();
        EXPECT_EQ(set != nullptr, c.handedOver);
    }
}

TEST(ExFatPreAnalyze, ASetCutAtTheSectorEdgeIsReadOnInMemory) {
    Disk disk(8);
    const std::vector<u8> set = MakeSet(File(kTwoNameEntries, 50, 4096));
    ASSERT_EQ(set.size(), 4u * 32);
    Fill(disk, 1, 15, 40);
    disk.Put(1, 15, set);  // its stream and names run into sector 2
    disk.Put(2, 3, MakeSet(File(u"after", 60, 10)));
    CFDTPreAnaylze pre = Prepared();
    const auto sets = Offer(pre, disk, 0, 6);
    ASSERT_EQ(sets.size(), 1u);
    const auto names = Names(*sets[0]);
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[5], "a-name-that-needs-two-entries");
    EXPECT_EQ(names[6], "after");
    EXPECT_EQ(sets[0]->InUseFiles()[5].sector, 1);
    EXPECT_EQ(sets[0]->GetSectorCounts(), 2u);
    EXPECT_FALSE(sets[0]->IsNotEnd());
    EXPECT_EQ(pre.WaitingNotEnded(), 0u);
}

// A sector that begins inside a set ends its file set at once; a set running from its last slot into the
// next sector is still read whole and opens the next file set.
TEST(ExFatPreAnalyze, ASetReadOnPastAnAbridgedSectorOpensTheNextSet) {
    Disk disk(8);
    const std::vector<u8> lost = MakeSet(File(kTwoNameEntries, 30, 10));
    disk.Put(1, 0, std::vector<u8>(lost.begin() + 64, lost.end()));  // names whose file entry lies elsewhere
    for (size_t slot = 2; slot < 11; slot += 3) disk.Put(1, slot, MakeSet(File(u"f", static_cast<u32>(40 + slot), 10)));
    disk.Put(1, 11, MakeSet(File(u"long-filler-name-x", 45, 10)));  // slots 11..14
    disk.Put(1, 15, MakeSet(File(kTwoNameEntries, 50, 4096)));      // its stream and names lie in sector 2
    disk.Put(2, 3, MakeSet(File(u"after", 60, 10)));
    CFDTPreAnaylze pre = Prepared();
    const auto sets = Offer(pre, disk, 0, 6);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(sets[0]->IsAbridged());
    EXPECT_EQ(sets[0]->GetSectorCounts(), 1u);
    EXPECT_FALSE(sets[1]->IsAbridged());
    EXPECT_EQ(sets[1]->GetFirstSector(), 2);
    EXPECT_EQ(Names(*sets[1]), (std::vector<std::string>{"a-name-that-needs-two-entries", "after"}));
    EXPECT_EQ(sets[1]->InUseFiles()[0].sector, 1);
}

// A fragmented folder: a set cut at its cluster's last sector continues in a cluster elsewhere. Both
// orders of discovery link the two sets once and recover the cut file.
TEST(ExFatPreAnalyze, ACutSetIsJoinedWithItsRestFoundElsewhere) {
    const std::vector<u8> set = MakeSet(File(kTwoNameEntries, 50, 4096, false, true));
    for (const bool restFirst : {false, true}) {
        SCOPED_TRACE(restFirst ? "rest seen first" : "cut seen first");
        const size_t cutAt = restFirst ? 9 : 1;
        const size_t restAt = restFirst ? 1 : 9;
        Disk disk(14);
        Fill(disk, cutAt, 14, 10);
        disk.Put(cutAt, 14, std::vector<u8>(set.begin(), set.begin() + 64));  // file entry and stream
        disk.Put(restAt, 0, std::vector<u8>(set.begin() + 64, set.end()));    // the two names
        disk.Put(restAt, 2, MakeSet(File(u"next", 70, 10)));
        CFDTPreAnaylze pre = Prepared();
        const auto sets = Offer(pre, disk, 0, 12);
        ASSERT_EQ(sets.size(), 2u);
        const CFileSet& cut = restFirst ? *sets[1] : *sets[0];
        const CFileSet& rest = restFirst ? *sets[0] : *sets[1];
        EXPECT_TRUE(cut.IsNotEnd());
        EXPECT_TRUE(rest.IsAbridged());
        EXPECT_EQ(pre.GetNext(static_cast<long long>(cutAt)), static_cast<long long>(restAt));
        EXPECT_EQ(pre.GetLast(static_cast<long long>(restAt)), static_cast<long long>(cutAt));
        const CFileSet& joinedInto = restFirst ? cut : rest;
        EXPECT_EQ(Names(joinedInto).back(), "~a-name-that-needs-two-entries");
        EXPECT_EQ(joinedInto.DeletedFiles().back().sector, static_cast<i64>(cutAt));
        EXPECT_EQ(pre.WaitingNotEnded() + pre.WaitingAbridged(), 0u);
    }
}

TEST(ExFatPreAnalyze, ACutSetWithABadChecksumIsNeverJoined) {
    std::vector<u8> set = MakeSet(File(kTwoNameEntries, 50, 4096));
    set[64 + 2] ^= 1;  // a name character changed after the checksum was made
    Disk disk(14);
    disk.Put(1, 14, std::vector<u8>(set.begin(), set.begin() + 64));
    Fill(disk, 1, 14, 10);
    disk.Put(9, 0, std::vector<u8>(set.begin() + 64, set.end()));
    disk.Put(9, 2, MakeSet(File(u"next", 70, 10)));
    CFDTPreAnaylze pre = Prepared();
    const auto sets = Offer(pre, disk, 0, 12);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(pre.GetNext(1), -1);
    EXPECT_EQ(pre.WaitingNotEnded(), 1u);
    EXPECT_EQ(pre.WaitingAbridged(), 1u);
}

TEST(ExFatPreAnalyze, ClusterSizeBounds) {
    struct Case {
        const char* name;
        std::vector<SetShape> files;
        u64 minSectors;
        u64 maxSectors;
    };
    SetShape chained = File(u"chained", 10, 102400);
    chained.noFatChain = false;
    const std::vector<Case> cases = {
        {"100 KiB at cluster 10, next at 35: at least 4096 bytes", {File(u"big", 10, 102400), File(u"next", 35, 1)}, 8, 65536},
        {"a chained file bounds nothing", {chained, File(u"next", 35, 1)}, 1, 65536},
        {"a 12,288-byte folder: at most 4096 bytes", {File(u"dir", 10, 12288, true)}, 1, 8},
        {"a folder length past 32 bits keeps its low bits", {File(u"dir", 10, (u64{1} << 32) + 8192, true)}, 1, 16},
        {"a need past 32 bits is capped at 32 MiB", {File(u"huge", 10, u64{1} << 45), File(u"next", 11, 1)}, 65536, 65536},
        {"two files at one cluster", {File(u"a", 10, 1 << 20), File(u"b", 10, 1)}, 1, 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFileSet set;
        set.RecordSector(100);
        for (const SetShape& shape : c.files) {
            _tagFileBaseInfo info;
            info.firstCluster = shape.firstCluster;
            info.dataLength = static_cast<i64>(shape.length);
            info.noFatChain = shape.noFatChain ? 1 : 0;
            info.attributes = shape.attributes;
            info.inUse = 1;
            set.AddFile(info);
        }
        set.CalculateClusterSize(9);
        EXPECT_EQ(set.GetMinClusterSize(), c.minSectors);
        EXPECT_EQ(set.GetMaxClusterSize(), c.maxSectors);
    }
}

TEST(ExFatPreAnalyze, ClusterClaims) {
    auto file = [](u32 cluster, i64 length, bool contiguous) {
        _tagFileBaseInfo info;
        info.firstCluster = cluster;
        info.dataLength = length;
        info.noFatChain = contiguous ? 1 : 0;
        info.inUse = 1;
        return info;
    };
    struct Case {
        const char* name;
        std::vector<_tagFileBaseInfo> files;
        std::vector<_tagFileBaseInfo> chained;  // in a next set of the chain
        bool ok;
    };
    const std::vector<Case> cases = {
        {"disjoint runs", {file(10, 8192, true), file(12, 1, true), file(20, 1 << 20, false)}, {file(21, 1, true)}, true},
        {"a run over the next file", {file(10, 8193, true), file(12, 1, true)}, {}, false},
        {"a clash across the chain", {file(10, 4096, true)}, {file(10, 1, false)}, false},
        {"a run past the last cluster", {file(0xFFFFFFF0u, i64{4096} * 7, true)}, {}, false},
        {"a run to the last cluster", {file(0xFFFFFFF0u, i64{4096} * 6, true)}, {}, true},
        {"an empty file claims nothing", {file(0, 0, true), file(0, 0, true)}, {}, true},
        {"a huge contiguous file is one claim", {file(100, i64{1} << 40, true)}, {file(99, 1, true)}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFileSet set, next;
        for (const auto& f : c.files) set.AddFile(f);
        for (const auto& f : c.chained) next.AddFile(f);
        set.SetNext(&next);
        CClusterClaims claims;
        EXPECT_EQ(set.GetAndCheckClusterSet(claims, 4096), c.ok);
    }
    // A looped chain is walked once.
    CFileSet a, b;
    a.AddFile(file(10, 1, true));
    b.AddFile(file(11, 1, true));
    a.SetNext(&b);
    b.SetNext(&a);
    CClusterClaims claims;
    EXPECT_TRUE(a.GetAndCheckClusterSet(claims, 4096));
    std::list<u32> folders;
    a.GetFolder(folders);
    EXPECT_TRUE(folders.empty());
}

// Claims touching runs on either side, both sides, or neither, in every order, against the clusters
// claimed one by one: each claim's answer and every cluster's membership agree, so joining neighbouring
// runs changes nothing a caller sees; the runs of a row of adjacent files are one.
TEST(ExFatPreAnalyze, ClusterClaimsJoinNeighbours) {
    struct Claim {
        u32 first;
        u64 count;
    };
    const std::vector<std::pair<const char*, std::vector<Claim>>> rows = {
        {"a row of files", {{10, 1}, {11, 1}, {12, 3}, {15, 1}}},
        {"a gap filled", {{10, 2}, {14, 2}, {12, 2}, {13, 1}, {9, 1}, {16, 1}}},
        {"from the top down", {{20, 1}, {19, 1}, {17, 2}, {16, 5}, {15, 1}}},
        {"clashes with joined runs", {{10, 2}, {12, 2}, {11, 1}, {13, 1}, {9, 6}, {14, 1}, {8, 1}}},
        {"the edges of the heap", {{2, 1}, {3, 1}, {0xFFFFFFF5u, 1}, {0xFFFFFFF4u, 1}, {0xFFFFFFF3u, 3}}},
        {"a run over two runs", {{10, 1}, {14, 1}, {11, 3}, {10, 5}, {15, 2}}},
    };
    for (const auto& [name, claims] : rows) {
        SCOPED_TRACE(name);
        CClusterClaims runs;
        std::set<u32> model;
        for (const Claim& c : claims) {
            bool free = exfat::IsCluster(c.first) && c.count - 1 <= u64{exfat::kLastCluster} - c.first;
            for (u64 k = 0; free && k < c.count; ++k) free = model.count(static_cast<u32>(c.first + k)) == 0;
            EXPECT_EQ(runs.Claim(c.first, c.count), free) << c.first << "+" << c.count;
            for (u64 k = 0; free && k < c.count; ++k) model.insert(static_cast<u32>(c.first + k));
        }
        for (const u32 probe : {0u, 1u, 2u, 3u, 4u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 19u,
                                20u, 21u, 22u, 0xFFFFFFF2u, 0xFFFFFFF3u, 0xFFFFFFF4u, 0xFFFFFFF5u, 0xFFFFFFF6u}) {
            EXPECT_EQ(runs.Contains(probe), model.count(probe) != 0) << probe;
        }
    }
    // Random claims over a small heap against the model.
    std::mt19937 random(15);
    for (int round = 0; round < 200; ++round) {
        CClusterClaims runs;
        std::set<u32> model;
        for (int i = 0; i < 40; ++i) {
            const u32 first = 2 + random() % 60;
            const u64 count = 1 + random() % 4;
            bool free = true;
            for (u64 k = 0; free && k < count; ++k) free = model.count(static_cast<u32>(first + k)) == 0;
            ASSERT_EQ(runs.Claim(first, count), free);
            for (u64 k = 0; free && k < count; ++k) model.insert(static_cast<u32>(first + k));
        }
        for (u32 probe = 0; probe < 70; ++probe) ASSERT_EQ(runs.Contains(probe), model.count(probe) != 0) << probe;
        // Runs never touch: one more than the gaps between claimed clusters.
        size_t gaps = 0;
        for (auto it = model.begin(); it != model.end(); ++it) {
            if (std::next(it) != model.end() && *std::next(it) != *it + 1) ++gaps;
        }
        ASSERT_EQ(runs.Runs(), model.empty() ? 0 : gaps + 1);
    }
    CClusterClaims row;
    for (u32 c = 100; c < 1100; ++c) ASSERT_TRUE(row.Claim(c, 1));
    EXPECT_EQ(row.Runs(), 1u);
}

// A new search starts clean: a set left half-read by the last search (its stream expected in the next
// sector) does not absorb the first sector of the next one, and the same disk gives the same sets twice.
TEST(ExFatPreAnalyze, EverySearchStartsAgain) {
    const std::vector<u8> set = MakeSet(File(kTwoNameEntries, 50, 4096));
    // The rest of a cut set first (its stream opens the sector), the cut set's file entry later.
    Disk disk(14);
    disk.Put(1, 0, std::vector<u8>(set.begin() + 32, set.end()));
    disk.Put(1, 3, MakeSet(File(u"next", 70, 10)));
    Fill(disk, 9, 15, 10);
    disk.Put(9, 15, std::vector<u8>(set.begin(), set.begin() + 32));
    Disk stale(4);
    Fill(stale, 1, 15, 10);
    stale.Put(1, 15, std::vector<u8>(set.begin(), set.begin() + 32));
    stale.Put(2, 0, std::vector<u8>(set.begin() + 32, set.end()));  // read on in memory, not finished

    std::vector<std::vector<std::string>> runs;
    for (int run = 0; run < 2; ++run) {
        CFDTPreAnaylze left = Prepared();
        EXPECT_FALSE(left.Analyze(1, stale.From(1)));  // the process-wide record now holds a file entry
        CFDTPreAnaylze pre = Prepared();
        std::vector<std::string> seen;
        for (const auto& s : Offer(pre, disk, 0, 12)) {
            seen.push_back(std::to_string(s->GetFirstSector()) + ":" + std::to_string(Names(*s).size()) + ":" +
                           Names(*s).back());
            seen.push_back(std::to_string(s->GetFlags()));
        }
        runs.push_back(seen);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"1:1:next", "8", "9:6:a-name-that-needs-two-entries", "16"}));
}

// Hostile bytes: every byte of a cut set, its rest and a root sector changed to each of a few values, and
// sets cut at the very end of what is in memory; run under the sanitizers, nothing may read past the view.
TEST(ExFatPreAnalyze, HostileBytesEndCleanly) {
    const std::vector<u8> set = MakeSet(File(kTwoNameEntries, 50, 4096, false, true));
    Disk base(14);
    base.Put(1, 0, Entry(exfat::entry::kVolumeLabel, 0, 0));
    base.Put(1, 1, Entry(exfat::entry::kBitmap, 2, 1000));
    base.Put(1, 2, Entry(exfat::entry::kUpcase, 3, 5836));
    Fill(base, 1, 14, 10);
    base.Put(1, 14, std::vector<u8>(set.begin(), set.begin() + 64));
    base.Put(9, 0, std::vector<u8>(set.begin() + 64, set.end()));
    base.Put(9, 2, MakeSet(File(u"dir", 70, u64{1} << 33, true)));
    size_t sets = 0;
    for (const size_t sector : {size_t{1}, size_t{9}}) {
        for (size_t offset = 0; offset < kSector; ++offset) {
            for (const u8 value : {u8{0x00}, u8{0xFF}, u8{0x12}}) {
                Disk disk = base;
                disk.bytes[sector * kSector + offset] = value;
                CFDTPreAnaylze pre = Prepared();
                sets += Offer(pre, disk, 0, 12).size();
            }
        }
    }
    EXPECT_GT(sets, 0u);

    // A file entry claiming 18 secondaries in the last slot, with nothing in memory behind the sector.
    std::vector<u8> last = MakeSet(File(std::u16string(255, u'x'), 50, 1));
    ASSERT_EQ(last.size(), 19u * 32);
    for (const size_t slot : {size_t{0}, size_t{15}}) {
        SCOPED_TRACE(slot);
        Disk one(1);
        Fill(one, 0, slot, 10);
        one.Put(0, slot, std::vector<u8>(last.begin(), last.begin() + static_cast<long>((16 - slot) * 32)));
        CFDTPreAnaylze pre = Prepared();
        EXPECT_TRUE(pre.Analyze(0, one.From(0)));
        EXPECT_EQ(pre.TakeFileSet() != nullptr, slot != 0);  // the fillers are files
        EXPECT_EQ(pre.WaitingNotEnded(), 1u);
    }
}

// A set keeps its files' names in one pool: each file keeps its own name whatever order the files come in
// (in-use files sorted by first cluster, deleted ones as they come), names of every length and of
// characters past ASCII included.
TEST(ExFatPreAnalyze, ASetKeepsEachFilesName) {
    struct Added {
        std::u16string name;
        u32 cluster;
        bool deleted;
    };
    const std::vector<Added> added = {
        {u"thirty.txt", 30, false}, {u"ten.txt", 10, false},        {std::u16string(255, u'x'), 20, false},
        {u"", 10, false},           {u"gone \u00E9\U0001F600", 5, true}, {u"empty", 0, false},
        {u"ten again.txt", 10, false}, {u"gone too", 0, true}, {std::u16string(200, u'\u00E9'), 40, false},
    };
    CFileSet set;
    for (const Added& a : added) {
        _tagFileBaseInfo record;
        record.firstCluster = a.cluster;
        record.inUse = a.deleted ? 0 : 1;
        for (char16_t c : a.name) record.nameUnits[record.nameUnitCount++] = c;
        set.AddFile(record);
    }
    std::vector<std::string> inUse, deleted;
    std::vector<u32> clusters;
    for (const auto& f : set.InUseFiles()) inUse.push_back(set.Name(f)), clusters.push_back(f.firstCluster);
    for (const auto& f : set.DeletedFiles()) deleted.push_back(set.Name(f));
    // 200 two-byte characters: cut at a character boundary within 259 bytes, as a node's name is.
    std::string accents;
    for (int i = 0; i < 129; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(inUse, (std::vector<std::string>{"empty", "ten.txt", "", "ten again.txt", std::string(255, 'x'),
                                               "thirty.txt", accents}));
    EXPECT_EQ(clusters, (std::vector<u32>{0, 10, 10, 10, 20, 30, 40}));
    EXPECT_EQ(deleted, (std::vector<std::string>{"gone \xC3\xA9\xF0\x9F\x98\x80", "gone too"}));
    EXPECT_EQ(set.NameBytes(set.InUseFiles()[4]).size(), 255u);
}
