// Lost exFAT partition candidates: what each kind of evidence makes of them (boot sectors and their
// backups, FAT sectors, root sets with or without an up-case table sector, folder trees), the tree test,
// the bounds on the candidate list, the lazy processing of pushed sets, and the choice among the
// candidates at the end of the search.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/PartitionBuilder.h"
#include "support/Fixtures.h"

namespace {

constexpr u64 kTotalSectors = u64{1} << 32;
using P = CExFatPartitionEx;

// The first sector of the committed exfat-4k volume: heap 4096, 8 sectors per cluster, FAT at 2048 (64
// sectors, one FAT), root cluster 5, 7680 clusters, 65536 sectors.
std::vector<u8> BootSector() {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/exfat-4k.img.xz"));
    std::vector<u8> sector(512);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(sector.data()), 512);
    return sector;
}

_tagFileBaseInfo File(u32 cluster, i64 length, bool folder = false, bool inUse = true) {
    _tagFileBaseInfo f;
    f.firstCluster = cluster;
    f.dataLength = length;
    f.attributes = folder ? 0x10 : 0x20;
    f.noFatChain = 1;
    f.inUse = inUse ? 1 : 0;
    return f;
}

struct RootShape {
    u32 bitmapCluster = 2;
    u64 bitmapBytes = 960;
    u32 upcaseCluster = 3;
    u64 upcaseBytes = 4000;
};

// A file set as the pre-analysis hands it over (bounds in sectors of 512 bytes).
CFileSet* Set(i64 first, const std::vector<_tagFileBaseInfo>& files, const RootShape* root = nullptr, u32 sectors = 1) {
    auto* set = new CFileSet();
    for (u32 s = 0; s < sectors; ++s) set->RecordSector(first + s);
    if (root != nullptr) {
        set->SeeLabel();
        set->SeeBitmap(root->bitmapCluster, root->bitmapBytes);
        set->SeeUpcase(root->upcaseCluster, root->upcaseBytes);
    }
    for (_tagFileBaseInfo f : files) {
        f.sector = first;
        set->AddFile(f);
    }
    set->CalculateClusterSize(9);
    return set;
}

CPartitionBuilder& Prepared(CPartitionBuilder& b) {
    b.PrepareBuild(512, kTotalSectors);
    return b;
}

TEST(ExFatCandidates, BootSectorReadings) {
    std::vector<u8> boot = BootSector();
    CExFatDBR dbr(boot.data(), boot.size());
    ASSERT_TRUE(dbr.IsValid(512));
    struct Case {
        const char* name;
        std::vector<i64> bootsAt;
        std::vector<std::pair<i64, u32>> expected;  // data start -> flags, in rank order
    };
    const std::vector<Case> cases = {
        {"a boot sector at s >= 12 alone: a main and a backup reading", {100}, {{4196, P::kMainBoot}, {4184, P::kBackupBoot}}},
        {"a boot sector at 5: only the main reading", {5}, {{4101, P::kMainBoot}}},
        {"a boot sector at 12: both readings, the backup at 0", {12}, {{4108, P::kMainBoot}, {4096, P::kBackupBoot}}},
        {"main and backup: one candidate, the reading of the main as a backup dropped",
         {2048, 2060},
         {{6144, P::kMainBoot | P::kBackupBoot}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPartitionBuilder b;
        Prepared(b);
        for (i64 s : c.bootsAt) b.Build(s, &dbr);
        const auto list = b.Candidates();
        ASSERT_EQ(list.size(), c.expected.size());
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i]->GetDataRegionStart(), c.expected[i].first);
            EXPECT_EQ(list[i]->GetFlags(), c.expected[i].second);
            EXPECT_EQ(list[i]->GetSectorsPerCluster(), 8u);
            EXPECT_EQ(list[i]->GetRootCluster(), 5u);
            EXPECT_EQ(list[i]->GetPartitionLength(), 65536);
        }
    }
    // The cluster bound: raised to what the FAT can hold for the main reading, as stored for the backup.
    CPartitionBuilder b;
    Prepared(b).Build(100, &dbr);
    EXPECT_EQ(b.FindPartition(4196, 8)->GetClusterBound(), 64u * 512 / 4);
    EXPECT_EQ(b.FindPartition(4184, 8)->GetClusterBound(), 7680u);
}

TEST(ExFatCandidates, FatSectorsAndRemoval) {
    std::vector<u8> boot = BootSector();
    CExFatDBR dbr(boot.data(), boot.size());
    CPartitionBuilder b;
    Prepared(b).Build(100, &dbr);
    b.RecordFAT(100 + 2048);  // the main reading's FAT
    b.RecordFAT(100 + 2048 + 64);  // a second FAT: this volume has one
    b.RecordFAT(88 + 2048);   // the backup reading's FAT
    EXPECT_EQ(b.FindPartition(4196, 8)->GetFlags(), P::kMainBoot | P::kFirstFat);
    EXPECT_EQ(b.FindPartition(4184, 8)->GetFlags(), P::kBackupBoot | P::kFirstFat);
    // Removal only of a candidate whose flags are exactly a backup reading.
    b.RemovePartion(4184, 8);
    EXPECT_NE(b.FindPartition(4184, 8), nullptr);
    b.Build(300, &dbr);
    b.RemovePartion(4384, 8);
    EXPECT_EQ(b.FindPartition(4384, 8), nullptr);
    b.RemovePartion(4396, 8);
    EXPECT_NE(b.FindPartition(4396, 8), nullptr);
    b.RemovePartion(4196, 7);  // no such identity
    EXPECT_EQ(b.CandidateCount(), 3u);
    // Without boot-sector evidence a candidate takes no FAT sector.
    P guess;
    guess.AddFlags(P::kRootSetFits | P::kTreeFits);
    guess.SetFatInfo(2, 64, 2048);
    EXPECT_FALSE(guess.CheckFatSector(2048));
    P two;
    two.AddFlags(P::kBackupBoot);
    two.SetFatInfo(2, 64, 2048);
    EXPECT_TRUE(two.CheckFatSector(2048 + 64));
    EXPECT_EQ(two.GetFlags(), P::kBackupBoot | P::kSecondFat);
}

// A volume with its heap at 10000, 8 sectors per cluster: the root folder at cluster 4 (bitmap 2,
// up-case 3), files from cluster 6.
constexpr i64 kHeap = 10000;
constexpr i64 ClusterSector(u32 cluster) { return kHeap + i64{cluster - 2} * 8; }

TEST(ExFatCandidates, RootSetsPlaceTheirVolume) {
    const RootShape root;
    const std::vector<_tagFileBaseInfo> rootFiles = {File(6, 4096), File(7, 4096, true)};
    {
        SCOPED_TRACE("an up-case table sector and the root set agree on one candidate");
        CPartitionBuilder b;
        Prepared(b).RecordUpCaseTable(ClusterSector(3));
        b.PushFileSet(Set(ClusterSector(4), rootFiles, &root), -1, -1);
        b.ProcessWaiting();
        const CExFatPartitionEx* volume = b.FindPartition(kHeap, 8);
        ASSERT_NE(volume, nullptr);
        EXPECT_EQ(volume->GetRootCluster(), 4u);
        EXPECT_EQ(volume->GetFlags(), P::kRootSetFits);
        EXPECT_EQ(volume->GetClusterBound(), 960u * 8);
        // The root inference found the up-case inference's candidate: its own guesses were dropped.
        EXPECT_EQ(b.CandidateCount(), 1u);
        EXPECT_TRUE(volume->IsMatched(b.FindFileSet(ClusterSector(4))));
    }
    {
        SCOPED_TRACE("without an up-case sector every geometry of the root is a guess");
        CPartitionBuilder b;
        Prepared(b).PushFileSet(Set(ClusterSector(4), rootFiles, &root), -1, -1);
        b.ProcessWaiting();
        // Root cluster 4 or 5 (below the first file at 6); 8 sectors per cluster (the 4096-byte file at 6
        // followed by one at 7 needs at least that, the 4096-byte folder allows at most that).
        EXPECT_EQ(b.CandidateCount(), 2u);
        ASSERT_NE(b.FindPartition(kHeap, 8), nullptr);
        EXPECT_EQ(b.FindPartition(kHeap, 8)->GetRootCluster(), 4u);
        ASSERT_NE(b.FindPartition(kHeap - 8, 8), nullptr);
        EXPECT_EQ(b.FindPartition(kHeap - 8, 8)->GetRootCluster(), 5u);
    }
    {
        SCOPED_TRACE("two root sets of one geometry share the candidate");
        CPartitionBuilder b;
        Prepared(b).PushFileSet(Set(ClusterSector(4), rootFiles, &root), -1, -1);
        b.PushFileSet(Set(ClusterSector(4), rootFiles, &root), -1, -1);
        b.ProcessWaiting();
        EXPECT_EQ(b.CandidateCount(), 2u);
        EXPECT_EQ(b.FindPartition(kHeap, 8)->GetFlags(), P::kRootSetFits);
        EXPECT_EQ(b.FindPartition(kHeap, 8)->MatchedCount(), 2u);
    }
    {
        // An empty file owns no cluster (its first cluster is 0): it bounds neither inference.
        std::vector<_tagFileBaseInfo> withEmpty = rootFiles;
        withEmpty.push_back(File(0, 0));
        withEmpty.push_back(File(0, 0, false, false));
        for (const bool upcase : {true, false}) {
            SCOPED_TRACE(upcase ? "a root set holding empty files, with an up-case sector"
                                : "a root set holding empty files, without an up-case sector");
            CPartitionBuilder b;
            Prepared(b);
            if (upcase) b.RecordUpCaseTable(ClusterSector(3));
            b.PushFileSet(Set(ClusterSector(4), withEmpty, &root), -1, -1);
            b.ProcessWaiting();
            EXPECT_EQ(b.CandidateCount(), upcase ? 1u : 2u);
            const CExFatPartitionEx* volume = b.FindPartition(kHeap, 8);
            ASSERT_NE(volume, nullptr);
            EXPECT_EQ(volume->GetRootCluster(), 4u);
            EXPECT_EQ(volume->GetFlags(), P::kRootSetFits);
        }
    }
}

// A folder tree in the volume at kHeap: the folder at cluster 10 holds folders 20 and 30, folder 20 holds
// folder 40; every folder holds a file.
struct Tree {
    CPartitionBuilder b;
    CFileSet* top;
    CFileSet* twenty;
    CFileSet* thirty;
    CFileSet* forty;
    explicit Tree(u32 fortyFile = 70) {
        Prepared(b);
        top = Set(ClusterSector(10), {File(20, 4096, true), File(30, 4096, true), File(50, 100)});
        twenty = Set(ClusterSector(20), {File(40, 4096, true), File(60, 100)});
        thirty = Set(ClusterSector(30), {File(65, 100)});
        forty = Set(ClusterSector(40), {File(fortyFile, 100)});
        for (CFileSet* s : {top, twenty, thirty, forty}) b.PushFileSet(s, -1, -1);
    }
};

TEST(ExFatCandidates, TheTreeTest) {
    {
        Tree t;
        std::list<CFileSet*> sets;
        // Level 1: two sets; level 2: one set under folder 20.
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 8, sets, 1), 4u);
        EXPECT_EQ(sets, (std::list<CFileSet*>{t.top, t.twenty, t.thirty, t.forty}));
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 8, sets, 5), 0u) << "below the minimum score";
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap + 8, 8, sets, 1), 0u) << "another geometry finds no set";
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 16, sets, 1), 0u) << "another cluster size finds no set";
    }
    {
        Tree t;
        P elsewhere;
        elsewhere.InsertMathedFileSet(t.thirty, 1);  // matched to another candidate
        std::list<CFileSet*> sets;
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 8, sets, 1), 0u) << "a set matched elsewhere";
    }
    {
        Tree t(60);  // folder 40's file claims folder 20's file's cluster
        std::list<CFileSet*> sets;
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 8, sets, 1), 0u) << "a cluster claimed twice";
    }
    {
        Tree t(20);  // a file in a folder's own cluster
        std::list<CFileSet*> sets;
        EXPECT_EQ(t.b.CheckTree(t.top, kHeap, 8, sets, 1), 0u) << "a file on a folder's cluster";
    }
    {
        // Folder 40 names the top folder's cluster: the walk ends on the visited cluster.
        CPartitionBuilder b;
        Prepared(b);
        CFileSet* top = Set(ClusterSector(10), {File(20, 4096, true), File(50, 100)});
        b.PushFileSet(top, -1, -1);
        b.PushFileSet(Set(ClusterSector(20), {File(10, 4096, true), File(60, 100)}), -1, -1);
        std::list<CFileSet*> sets;
        EXPECT_EQ(b.CheckTree(top, kHeap, 8, sets, 1), 0u) << "a cyclic folder claim";
    }
}

TEST(ExFatCandidates, TreeInferenceAndBelonging) {
    // A deeper tree: the top folder at 10 holds 20, 30 and 35; each holds one folder (40, 45, 48).
    CPartitionBuilder b;
    Prepared(b);
    CFileSet* top = Set(ClusterSector(10), {File(20, 4096, true), File(30, 4096, true), File(35, 4096, true), File(90, 10)});
    b.PushFileSet(top, -1, -1);
    b.PushFileSet(Set(ClusterSector(20), {File(40, 4096, true), File(91, 10)}), -1, -1);
    b.PushFileSet(Set(ClusterSector(30), {File(45, 4096, true), File(92, 10)}), -1, -1);
    b.PushFileSet(Set(ClusterSector(35), {File(48, 4096, true), File(93, 10)}), -1, -1);
    for (u32 leaf : {40u, 45u, 48u}) b.PushFileSet(Set(ClusterSector(leaf), {File(leaf + 60, 10)}), -1, -1);
    b.ProcessWaiting();
    const CExFatPartitionEx* volume = b.FindPartition(kHeap, 8);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetFlags(), P::kTreeFits);
    EXPECT_EQ(volume->MatchedCount(), 7u);  // score 3 + 3 x 2 = 9
    // A set with folders inside a boot-sector candidate whose tree fits it belongs to it (minimum score 1).
    std::vector<u8> boot = BootSector();
    CExFatDBR dbr(boot.data(), boot.size());
    CPartitionBuilder c;
    Prepared(c).Build(2048, &dbr);  // heap 6144, 8 sectors per cluster
    const i64 heap = 6144;
    CFileSet* folder = Set(heap + 8 * 8, {File(12, 4096, true), File(13, 100)});
    c.PushFileSet(folder, -1, -1);
    c.PushFileSet(Set(heap + 10 * 8, {File(14, 100)}), -1, -1);
    c.ProcessWaiting();
    EXPECT_TRUE(c.FindPartition(heap, 8)->IsMatched(folder));
    EXPECT_EQ(c.CandidateCount(), 2u) << "no tree candidate is made for a set that belongs";
}

TEST(ExFatCandidates, TheListStaysBounded) {
    std::vector<u8> boot = BootSector();
    CExFatDBR dbr(boot.data(), boot.size());
    CPartitionBuilder b;
    Prepared(b).Build(2048, &dbr);
    const RootShape root;
    // A root set whose first file lies at cluster 10^6, far into a large device: millions of (root
    // cluster, cluster size) pairs, of which the list takes at most its bound.
    const i64 far = i64{1} << 31;
    const auto start = std::chrono::steady_clock::now();
    b.PushFileSet(Set(far, {File(1000000, 1 << 20)}, &root), -1, -1);
    b.ProcessWaiting();
    EXPECT_LE(b.CandidateCount(), CPartitionBuilder::kTrimAt - 1);
    EXPECT_GE(b.CandidateCount(), CPartitionBuilder::kTrimTo);
    // A second one pushes the list past 1,024: it is cut to the 512 best ranked as the guesses are added,
    // and the boot-sector candidates stay.
    b.PushFileSet(Set(far + (i64{1} << 24), {File(1000000, 1 << 20)}, &root), -1, -1);
    b.ProcessWaiting();
    EXPECT_LE(b.CandidateCount(), CPartitionBuilder::kTrimAt - 1);
    EXPECT_NE(b.FindPartition(6144, 8), nullptr);
    EXPECT_NE(b.FindPartition(6132, 8), nullptr);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);

    // Past the guesses, a candidate already there with the root cluster a late pair names is still found.
    CPartitionBuilder c;
    Prepared(c);
    // A boot sector of a volume of 10^6 clusters whose root cluster (900,000) holds the root set.
    std::vector<u8> moved = boot;
    const u32 heapOffset = 16384, fatLength = 7900, clusters = 1000000, rootCluster = 900000;
    const u64 volumeLength = heapOffset + u64{8} * clusters;
    auto put = [&](size_t at, u64 value, int bytes) {
        for (int i = 0; i < bytes; ++i) moved[at + i] = static_cast<u8>(value >> (8 * i));
    };
    put(72, volumeLength, 8);
    put(84, fatLength, 4);
    put(88, heapOffset, 4);
    put(92, clusters, 4);
    put(96, rootCluster, 4);
    const i64 bootAt = far - 8 * i64{rootCluster - 2} - heapOffset;
    CExFatDBR movedDbr(moved.data(), moved.size());
    ASSERT_TRUE(movedDbr.IsValid(512));
    c.Build(bootAt, &movedDbr);
    c.PushFileSet(Set(far, {File(1000000, 1 << 20)}, &root), -1, -1);
    c.ProcessWaiting();
    const CExFatPartitionEx* volume = c.FindPartition(far - 8 * i64{rootCluster - 2}, 8);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetFlags(), P::kMainBoot | P::kRootSetFits);
    EXPECT_EQ(c.CandidateCount(), 2u) << "the guesses are dropped once the root set's candidate is found";
}

TEST(ExFatCandidates, SetsAreProcessedLazilyAndLinked) {
    CPartitionBuilder b;
    Prepared(b);
    for (i64 i = 0; i < 2177; ++i) b.PushFileSet(Set(1000 + i, {File(static_cast<u32>(5 + i), 10)}), -1, -1);
    b.Build(3000);
    EXPECT_EQ(b.ProcessedCount(), 1u) << "more than 2,176 waiting";
    b.Build(3001);
    EXPECT_EQ(b.ProcessedCount(), 1u);
    // Far past the last set's reach (its first sector + its largest first cluster).
    b.Build(1000 + 2176 + 5 + 2176 + 0x2000000 + 1);
    EXPECT_EQ(b.ProcessedCount(), 2u);
    b.ProcessWaiting();
    EXPECT_EQ(b.ProcessedCount(), 2177u);

    // A cut set and its rest linked both ways; their cluster-size bounds narrowed to what both allow.
    CPartitionBuilder c;
    Prepared(c);
    CFileSet* cut = Set(500, {File(9, 4096, true)});  // at most 8 sectors per cluster
    CFileSet* rest = Set(900, {File(11, 100)});
    rest->SetClusterSizeBounds(2, 65536);
    c.PushFileSet(cut, -1, -1);
    c.PushFileSet(rest, 500, -1);
    EXPECT_EQ(cut->GetNext(), rest);
    EXPECT_EQ(rest->GetLast(), cut);
    for (const CFileSet* s : {cut, rest}) {
        EXPECT_EQ(s->GetMinClusterSize(), 2u);
        EXPECT_EQ(s->GetMaxClusterSize(), 8u);
    }
    EXPECT_EQ(c.FindFileSet(900), rest);
    EXPECT_EQ(c.FindFileSet(901), nullptr);
    // A second search starts from nothing.
    c.PrepareBuild(512, kTotalSectors);
    EXPECT_EQ(c.FindFileSet(900), nullptr);
    EXPECT_EQ(c.CandidateCount(), 0u);
}

// A copy of the exfat-4k boot sector with another geometry.
std::vector<u8> MovedBoot(u32 heapOffset, u8 clusterShift, u32 clusters, u32 rootCluster) {
    std::vector<u8> boot = BootSector();
    auto put = [&](size_t at, u64 value, int bytes) {
        for (int i = 0; i < bytes; ++i) boot[at + i] = static_cast<u8>(value >> (8 * i));
    };
    put(88, heapOffset, 4);
    put(92, clusters, 4);
    put(96, rootCluster, 4);
    boot[109] = clusterShift;
    return boot;
}

using Chosen = std::list<std::unique_ptr<CExFatPartitionEx>>;

std::vector<std::pair<i64, u32>> Identities(const Chosen& chosen) {
    std::vector<std::pair<i64, u32>> out;
    for (const auto& c : chosen) out.emplace_back(c->GetDataRegionStart(), c->GetSectorsPerCluster());
    return out;
}

TEST(ExFatChoice, TheBetterRankedCandidateTakesTheSetsBothFit) {
    // Two boot sectors give one data start (4196) two cluster sizes: 8 sectors with root cluster 6, and
    // 16 sectors with root cluster 4. The root set at 4228 lies in the root cluster under both.
    std::vector<u8> eight = MovedBoot(4096, 3, 7680, 6);
    std::vector<u8> sixteen = MovedBoot(3996, 4, 3000, 4);
    CExFatDBR dbr8(eight.data(), eight.size());
    CExFatDBR dbr16(sixteen.data(), sixteen.size());
    ASSERT_TRUE(dbr8.IsValid(512));
    ASSERT_TRUE(dbr16.IsValid(512));
    const RootShape root;
    struct Case {
        const char* name;
        bool backupOfEight;  // the 8-sector volume's backup boot sector outranks the other's root-set match
        std::pair<i64, u32> chosen;
    };
    for (const Case& c : {Case{"the 16-sector volume, its root set found in the scan, ranks first", false, {4196, 16}},
                          Case{"the 8-sector volume, with its backup boot sector, ranks first", true, {4196, 8}}}) {
        SCOPED_TRACE(c.name);
        CPartitionBuilder b;
        Prepared(b).Build(100, &dbr8);
        if (c.backupOfEight) b.Build(112, &dbr8);
        b.Build(200, &dbr16);
        CFileSet* rootSet = Set(4228, {File(100, 100)}, &root);
        b.PushFileSet(rootSet, -1, -1);
        // A lone set that fits the 16-sector grid only (cluster 9, its file in cluster 10).
        CFileSet* lone = Set(4196 + 7 * 16, {File(10, 100)});
        b.PushFileSet(lone, -1, -1);
        ASSERT_NE(b.FindPartition(4196, 8), nullptr);
        ASSERT_NE(b.FindPartition(4196, 16), nullptr);
        Chosen chosen;
        b.FinishBuid(chosen);
        ASSERT_EQ(Identities(chosen), (std::vector<std::pair<i64, u32>>{c.chosen}));
        const CExFatPartitionEx& volume = *chosen.front();
        EXPECT_TRUE(volume.IsMatched(rootSet));
        EXPECT_TRUE(b.IsAssigned(rootSet));
        EXPECT_EQ(volume.AlignedDataSectors(), (std::vector<i64>{4228, 4308}));
        if (c.backupOfEight) {
            // The 16-sector volume finds its root set taken and is rejected before it looks at the
            // lone set, which stays free.
            EXPECT_EQ(volume.Scores(), (std::map<i64, u32>{{4228, 1}}));
            EXPECT_EQ(b.UnassignedSets(), std::vector<CFileSet*>{lone});
        } else {
            EXPECT_EQ(volume.Scores(), (std::map<i64, u32>{{4228, 1}, {4308, 1}}));
            EXPECT_TRUE(b.UnassignedSets().empty());
        }
        EXPECT_EQ(b.RejectedCount(), c.backupOfEight ? 2u : 3u) << "the other reading and the backup readings";
        EXPECT_EQ(volume.GetClusterSize(), 512u * c.chosen.second);
    }
}

TEST(ExFatChoice, WinnowingTable) {
    std::vector<u8> boot = BootSector();
    CExFatDBR dbr(boot.data(), boot.size());
    const RootShape root;
    const std::vector<_tagFileBaseInfo> treeFiles = {File(20, 4096, true), File(30, 4096, true), File(35, 4096, true)};
    // A tree of seven sets whose folder entries place a volume at heap 100000 (8 sectors per cluster).
    const i64 heap = 100000;
    auto at = [&](u32 cluster) { return heap + i64{cluster - 2} * 8; };
    auto pushTree = [&](CPartitionBuilder& b) {
        b.PushFileSet(Set(at(10), {File(20, 4096, true), File(30, 4096, true), File(35, 4096, true), File(90, 10)}), -1, -1);
        b.PushFileSet(Set(at(20), {File(40, 4096, true), File(91, 10)}), -1, -1);
        b.PushFileSet(Set(at(30), {File(45, 4096, true), File(92, 10)}), -1, -1);
        b.PushFileSet(Set(at(35), {File(48, 4096, true), File(93, 10)}), -1, -1);
        for (u32 leaf : {40u, 45u, 48u}) b.PushFileSet(Set(at(leaf), {File(leaf + 60, 10)}), -1, -1);
    };
    {
        SCOPED_TRACE("boot-sector candidates whose clusters hold no set are rejected, whatever their evidence");
        CPartitionBuilder b;
        Prepared(b).Build(100, &dbr);
        b.Build(112, &dbr);
        b.RecordFAT(100 + 2048);
        pushTree(b);
        Chosen chosen;
        b.FinishBuid(chosen);
        ASSERT_EQ(Identities(chosen), (std::vector<std::pair<i64, u32>>{{heap, 8}}));
        EXPECT_EQ(chosen.front()->GetFlags(), P::kTreeFits);
        EXPECT_EQ(chosen.front()->MatchedCount(), 7u);
        // The tree's score, 9, is every member's score.
        for (const auto& [sector, score] : chosen.front()->Scores()) EXPECT_EQ(score, 9u) << sector;
        EXPECT_EQ(b.RejectedCount(), 1u);
    }
    {
        SCOPED_TRACE("a boot-sector volume takes the sets inside it; a set past its end stays with none");
        CPartitionBuilder b;
        Prepared(b).Build(2048, &dbr);  // heap 6144, 65536 sectors: ends at 67584
        b.Build(2060, &dbr);
        // The folder at cluster 10 holds folders at 12 and at 3, the latter before the volume's first
        // two clusters: matched with its tree, it is left for another candidate to take.
        CFileSet* early = Set(6144 + 1 * 8, {File(15, 100)});
        CFileSet* folder = Set(6144 + 8 * 8, {File(3, 4096, true), File(12, 4096, true), File(13, 100)});
        CFileSet* child = Set(6144 + 10 * 8, {File(14, 100)});
        CFileSet* lone = Set(6144 + 20 * 8, {File(23, 100)});           // just before its file: fits alone
        CFileSet* stray = Set(6144 + 30 * 8 + 3, {File(40, 100)});     // not on a cluster
        CFileSet* misfit = Set(6144 + 40 * 8, {File(60, 100)});        // its file lies far from it
        CFileSet* past = Set(67584, {File(8000, 100)});                // beyond the volume
        for (CFileSet* s : {early, folder, child, lone, stray, misfit, past}) b.PushFileSet(s, -1, -1);
        Chosen chosen;
        b.FinishBuid(chosen);
        ASSERT_EQ(Identities(chosen), (std::vector<std::pair<i64, u32>>{{6144, 8}}));
        const CExFatPartitionEx& v = *chosen.front();
        for (CFileSet* s : {folder, child, lone}) EXPECT_TRUE(v.IsMatched(s) && b.IsAssigned(s)) << s->GetFirstSector();
        for (CFileSet* s : {stray, misfit, past}) EXPECT_FALSE(v.IsMatched(s) || b.IsAssigned(s)) << s->GetFirstSector();
        EXPECT_TRUE(v.IsMatched(early));
        EXPECT_EQ(v.Scores(), (std::map<i64, u32>{{early->GetFirstSector(), 2}, {folder->GetFirstSector(), 2},
                                                  {child->GetFirstSector(), 2}, {lone->GetFirstSector(), 1}}));
        // The stray set inside the volume follows its cluster-aligned sets once the choice is made.
        EXPECT_EQ(v.AlignedDataSectors(),
                  (std::vector<i64>{folder->GetFirstSector(), child->GetFirstSector(), lone->GetFirstSector(),
                                    misfit->GetFirstSector(), stray->GetFirstSector()}));
        EXPECT_EQ(b.UnassignedSets(), (std::vector<CFileSet*>{early, stray, misfit, past}));
    }
    {
        SCOPED_TRACE("nothing pushed: nothing chosen");
        CPartitionBuilder b;
        Prepared(b).Build(2048, &dbr);
        Chosen chosen;
        b.FinishBuid(chosen);
        EXPECT_TRUE(chosen.empty());
        EXPECT_EQ(b.RejectedCount(), 2u);
    }
}

TEST(ExFatChoice, RootSetsSimpleChecksAndCompletion) {
    const RootShape root;
    auto candidate = [](u32 rootCluster, u32 flags) {
        auto p = std::make_unique<P>();
        p->SetSectorsPerCluster(8);
        p->SetDataRegionStart(kHeap);
        p->SetPartitionStart(kHeap - 4096);
        p->SetPartitionLength(65536);
        p->SetRootCluster(rootCluster);
        p->AddFlags(flags);
        return p;
    };
    {
        SCOPED_TRACE("a root set is matched through its root cluster only, or anywhere when none is known");
        struct Case {
            u32 rootCluster;
            u32 setCluster;
            bool matched;
        };
        for (const Case& c : {Case{4, 4, true}, Case{5, 4, false}, Case{3, 4, false}, Case{0xFFFFFFFF, 9, true}}) {
            SCOPED_TRACE(testing::Message() << c.rootCluster << " " << c.setCluster);
            auto p = candidate(c.rootCluster, P::kMainBoot);
            std::unique_ptr<CFileSet> set(Set(ClusterSector(c.setCluster), {File(100, 10)}, &root));
            p->SetRootFileSet(set.get());
            EXPECT_EQ(p->IsMatched(set.get()), c.matched);
            EXPECT_EQ(set->IsMatched(), c.matched);
            EXPECT_EQ(p->Scores().size(), c.matched ? 1u : 0u);
        }
    }
    {
        SCOPED_TRACE("a lone set fits when it lies in the cluster just before its first file and claims no cluster twice");
        struct Case {
            const char* name;
            std::vector<_tagFileBaseInfo> files;
            bool fits;
        };
        const std::vector<Case> cases = {
            {"first file in the next cluster", {File(21, 100), File(22, 5000)}, true},
            {"first file two clusters on", {File(22, 100)}, false},
            {"two files on one cluster", {File(21, 5000), File(22, 100)}, false},
            {"a file on the folder's own cluster", {File(20, 100)}, false},
            {"an empty file among them (no first cluster)", {File(0, 0), File(21, 100)}, false},
            {"a deleted file first: deleted files count too", {File(21, 100, false, false), File(23, 100)}, true},
        };
        auto p = candidate(4, P::kMainBoot);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::unique_ptr<CFileSet> set(Set(ClusterSector(20), c.files));
            EXPECT_EQ(p->SimpleCheck(set.get(), 512), c.fits);
        }
    }
    {
        SCOPED_TRACE("a volume's range ends at its start + its length, not at its heap + its length");
        auto p = candidate(4, P::kMainBoot);
        const i64 end = kHeap - 4096 + 65536;
        struct Case {
            i64 first;
            u32 sectors;
            bool inside;
        };
        for (const Case& c : {Case{kHeap + 15, 1, false}, Case{kHeap + 16, 1, true}, Case{end - 2, 2, true},
                              Case{end - 1, 2, false}, Case{end + 100, 1, false}}) {
            std::unique_ptr<CFileSet> set(Set(c.first, {File(100, 10)}, nullptr, c.sectors));
            EXPECT_EQ(p->IsFileSetInPartition(set.get()), c.inside) << c.first;
        }
    }
    {
        SCOPED_TRACE("completion: the sets off the cluster grid below the volume's end join the data sectors");
        const i64 end = kHeap - 4096 + 65536;
        struct Case {
            u32 flags;
            u32 clusterBound;
            std::vector<i64> expected;
        };
        const std::vector<Case> cases = {
            // A boot sector: the volume's end bounds them.
            {P::kMainBoot, 0, {kHeap + 16, kHeap + 80, kHeap + 19, kHeap + 90, end - 1}},
            // No boot sector, but a root set whose bitmap gave the cluster count: the volume's end too.
            {P::kRootSetFits, 7680, {kHeap + 16, kHeap + 80, kHeap + 19, kHeap + 90, end - 1}},
            // Neither: the last set on the grid bounds them.
            {P::kTreeFits, 0, {kHeap + 16, kHeap + 80, kHeap + 19}},
            {P::kRootSetFits, 0, {kHeap + 16, kHeap + 80, kHeap + 19}},
        };
        for (const Case& c : cases) {
            auto p = candidate(4, c.flags);
            p->SetClusterBound(c.clusterBound);
            for (i64 s : {kHeap + 16, kHeap + 19, kHeap + 80, kHeap + 90, end - 1, end + 7}) p->AddDataSector(s);
            p->CalcPartitionParam(4096);
            EXPECT_EQ(p->AlignedDataSectors(), c.expected);
            EXPECT_EQ(p->GetSectorSize(), 4096u);
            EXPECT_EQ(p->GetClusterSize(), 8u * 4096);
        }
    }
}

TEST(ExFatChoice, CoveredCandidatesAreDropped) {
    struct Case {
        const char* name;
        std::map<i64, u32> cover;
        std::map<i64, u32> covered;
        bool covers;
    };
    const std::vector<Case> cases = {
        {"a subset with lower scores", {{10, 9}, {20, 9}, {30, 1}}, {{10, 1}, {30, 1}}, true},
        {"the same map", {{10, 2}}, {{10, 2}}, true},
        {"an empty map", {{10, 2}}, {}, true},
        {"a higher score", {{10, 2}, {20, 2}}, {{10, 3}}, false},
        {"a sector the better one lacks", {{10, 2}, {20, 2}}, {{15, 1}}, false},
        {"more entries", {{10, 9}}, {{10, 1}, {20, 1}}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsCover(c.cover, c.covered), c.covers) << c.name;

    // Through the builder: a root set read twice at one sector whose copies allow different cluster sizes
    // (8 sectors, 16 sectors) lies in the root cluster of two boot-sector volumes with one data start.
    // Each volume keeps one copy; the second ranked holds nothing the first does not, and is dropped.
    std::vector<u8> eight = MovedBoot(4096, 3, 7680, 6);
    std::vector<u8> sixteen = MovedBoot(3996, 4, 3000, 4);
    CExFatDBR dbr8(eight.data(), eight.size());
    CExFatDBR dbr16(sixteen.data(), sixteen.size());
    const RootShape root;
    for (const bool coveredToo : {true, false}) {
        SCOPED_TRACE(coveredToo ? "same scores" : "the second scores a sector the first lacks");
        CPartitionBuilder b;
        Prepared(b).Build(100, &dbr8);
        b.Build(112, &dbr8);  // its backup: the 8-sector volume ranks first however many sets the other holds
        b.Build(200, &dbr16);
        CFileSet* first = Set(4228, {File(100, 100)}, &root);
        first->SetClusterSizeBounds(8, 8);
        CFileSet* second = Set(4228, {File(100, 100)}, &root);
        second->SetClusterSizeBounds(16, 16);
        b.PushFileSet(first, -1, -1);
        b.PushFileSet(second, -1, -1);
        // A lone set on the 16-sector grid only (cluster 9; its file in cluster 10).
        if (!coveredToo) b.PushFileSet(Set(4196 + 7 * 16, {File(10, 100)}), -1, -1);
        Chosen chosen;
        b.FinishBuid(chosen);
        const std::vector<std::pair<i64, u32>> both = {{4196, 8}, {4196, 16}};
        const std::vector<std::pair<i64, u32>> one = {{4196, 8}};
        EXPECT_EQ(Identities(chosen), coveredToo ? one : both);
        EXPECT_TRUE(chosen.front()->IsMatched(first));
        if (!coveredToo) {
            EXPECT_TRUE(chosen.back()->IsMatched(second));
        }
    }
}

}  // namespace
