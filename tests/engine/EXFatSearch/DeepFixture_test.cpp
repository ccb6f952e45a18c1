// The deep exFAT analyses over real disks, fed as the deep scan feeds them: an MBR disk made by sfdisk with
// a mkfs.exfat volume at sector 2048 and stray copies of its boot sector, and a GPT disk made by sgdisk. The file sets must carry what
// The Sleuth Kit lists for the volume, and the candidates must include the volume's geometry as
// dump.exfat gives it, with the evidence the disk holds.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/EXFatSearch/DeepExFatFeed.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "support/Fixtures.h"
#include "support/HostileTable.h"
#include "support/ImageFileDevice.h"
#include "support/TempDir.h"

using exfattest::DeepExFatFeed;
using testsupport::ImageFileDevice;

namespace {

constexpr i64 kVolumeStart = 2048;

struct Geometry {
    i64 heap = 0;  // from the volume start
    u32 sectorsPerCluster = 0;
    u32 rootCluster = 0;
    u64 fatOffset = 0;
    i64 volumeLength = 0;
    std::vector<i64> strays;
};

// dump.exfat's boot-sector lines, with the stray boot sectors the generator placed.
Geometry ReadGeometry(const std::string& name) {
    Geometry g;
    std::ifstream in(testsupport::FixturePath("exfat/" + name + ".geometry.txt"));
    std::string line;
    auto value = [](const std::string& l) { return std::stoll(l.substr(l.find_last_of(" \t") + 1)); };
    while (std::getline(in, line)) {
        if (line.rfind("Cluster Heap Offset", 0) == 0) g.heap = value(line);
        if (line.rfind("Root Cluster", 0) == 0) g.rootCluster = static_cast<u32>(value(line));
        if (line.rfind("FAT Offset", 0) == 0) g.fatOffset = static_cast<u64>(value(line));
        if (line.rfind("Volume Length", 0) == 0) g.volumeLength = value(line);
        if (line.rfind("Sector per Cluster bits", 0) == 0) g.sectorsPerCluster = 1u << value(line);
        if (line.rfind("Stray boot sectors:", 0) == 0) {
            std::istringstream s(line.substr(line.find('\t') + 1));
            for (i64 v = 0; s >> v;) g.strays.push_back(v);
        }
    }
    return g;
}

struct Entry {
    bool folder = false;
    bool deleted = false;
    i64 size = 0;
    std::vector<i64> sectors;  // disk sectors
    std::string path;
};

std::vector<Entry> ReadEntries(const std::string& name) {
    std::vector<Entry> out;
    std::ifstream in(testsupport::FixturePath("exfat/" + name + ".entries.txt"));
    std::string line;
    while (std::getline(in, line)) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() < 5) continue;
        Entry e;
        e.folder = f[0] == "d";
        e.deleted = f[1] == "1";
        e.size = std::stoll(f[2]);
        std::istringstream s(f[3]);
        for (i64 v = 0; s >> v;) e.sectors.push_back(v + kVolumeStart);
        e.path = f[4];
        out.push_back(e);
    }
    return out;
}

std::string Base(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
std::string Parent(const std::string& path) {
    const size_t at = path.find_last_of('/');
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

struct Found {
    const CFileSet* set;
    const CExFatSetFile* record;
};

// Every record of the pushed sets, by name.
std::multimap<std::string, Found> Records(const CPartitionBuilder& builder) {
    std::multimap<std::string, Found> out;
    for (const CFileSet* set : builder.PushedSets()) {
        for (const auto* list : {&set->InUseFiles(), &set->DeletedFiles()}) {
            for (const CExFatSetFile& r : *list) out.emplace(set->Name(r), Found{set, &r});
        }
    }
    return out;
}

// What a run yields, as text: every set (first sector, span, flags, bounds, links, records) and every
// candidate (identity, root, flags, matched count), so two runs compare whole.
std::string Digest(const CPartitionBuilder& builder) {
    std::ostringstream out;
    for (const CFileSet* set : builder.PushedSets()) {
        out << "set " << set->GetFirstSector() << ' ' << set->GetSectorCounts() << ' ' << set->GetFlags() << ' '
            << set->GetMinClusterSize() << '-' << set->GetMaxClusterSize() << ' '
            << (set->GetNext() ? set->GetNext()->GetFirstSector() : -1) << ' '
            << (set->GetLast() ? set->GetLast()->GetFirstSector() : -1);
        for (const auto* list : {&set->InUseFiles(), &set->DeletedFiles()}) {
            for (const CExFatSetFile& r : *list) out << " [" << set->Name(r) << ' ' << r.firstCluster << ' ' << r.dataLength << ']';
        }
        out << '\n';
    }
    for (const CExFatPartitionEx* c : builder.Candidates()) {
        out << "candidate " << c->GetDataRegionStart() << ' ' << c->GetSectorsPerCluster() << ' ' << c->GetRootCluster()
            << ' ' << std::hex << c->GetFlags() << std::dec << ' ' << c->MatchedCount() << '\n';
    }
    return out.str();
}


class DeepExFatDisk : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        name = GetParam();
        image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/" + name + ".img.xz"));
        geometry = ReadGeometry(name);
        entries = ReadEntries(name);
        ASSERT_GT(geometry.sectorsPerCluster, 0u);
        ASSERT_GT(entries.size(), 20u);
    }
    i64 Heap() const { return kVolumeStart + geometry.heap; }
    i64 ClusterSector(u32 cluster) const { return Heap() + i64{cluster - 2} * geometry.sectorsPerCluster; }
    // Copies the image with the given runs of sectors zeroed.
    std::filesystem::path Wiped(const std::vector<std::pair<i64, i64>>& runs) {
        std::vector<testsupport::BytePatch> patches;
        for (const auto& [first, count] : runs) {
            patches.push_back({"", static_cast<u64>(first) * 512, std::string(static_cast<size_t>(count) * 512, '\0')});
        }
        const auto wiped = dir.path() / "wiped.img";
        testsupport::ApplyPatches(image, patches, wiped);
        return wiped;
    }
    std::string name;
    std::filesystem::path image;
    Geometry geometry;
    std::vector<Entry> entries;
    testsupport::TempDir dir;
};

TEST_P(DeepExFatDisk, FileSetsCarryWhatTheSleuthKitLists) {
    ImageFileDevice device(image, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    const auto records = Records(feed.builder);
    std::map<std::string, std::vector<i64>> folderSectors;
    const i64 spc = geometry.sectorsPerCluster;
    for (i64 s = 0; s < spc; ++s) folderSectors[""].push_back(ClusterSector(geometry.rootCluster) + s);
    for (const Entry& e : entries) {
        if (e.folder) folderSectors[e.path] = e.sectors;
    }
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.path);
        const std::vector<i64>& parent = folderSectors[Parent(e.path)];
        const auto [from, to] = records.equal_range(Base(e.path));
        size_t matches = 0;
        for (auto it = from; it != to; ++it) {
            const CExFatSetFile& r = *it->second.record;
            if ((r.inUse == 0) != e.deleted || r.dataLength != e.size || r.IsDirectory() != e.folder) continue;
            if (!e.sectors.empty() && static_cast<i64>(r.firstCluster) != (e.sectors[0] - Heap()) / spc + 2) continue;
            // The parent: the file's entry lies in a cluster of the folder that lists it.
            if (std::find(parent.begin(), parent.end(), r.sector) == parent.end()) continue;
            ++matches;
        }
        // Found once: a set cut across a sector, cluster or block edge is joined, not kept in pieces.
        EXPECT_EQ(matches, 1u);
    }
}

TEST_P(DeepExFatDisk, FragmentedFoldersAreJoinedAcrossTheirClusters) {
    ImageFileDevice device(image, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    // A set cut at the end of a folder cluster whose next cluster lies elsewhere is kept as not-ended and
    // linked both ways to the set, in one of the folder's other clusters, that holds its rest.
    size_t links = 0;
    for (const CFileSet* set : feed.builder.PushedSets()) {
        if (!set->IsNotEnd()) continue;
        SCOPED_TRACE(set->GetFirstSector());
        ASSERT_NE(set->GetNext(), nullptr);
        EXPECT_EQ(set->GetNext()->GetLast(), set);
        EXPECT_TRUE(set->GetNext()->IsAbridged());
        const i64 at = set->GetNext()->GetFirstSector();
        const i64 cut = set->GetFirstSector() + set->GetSectorCounts() - 1;
        const bool sameFolder = std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
            return e.folder && std::count(e.sectors.begin(), e.sectors.end(), at) == 1 &&
                   std::count(e.sectors.begin(), e.sectors.end(), cut) == 1;
        });
        EXPECT_TRUE(sameFolder);
        ++links;
    }
    // Many lies in clusters 11, 52, 79, 105 and 132; Empties in 12 and then 151 to 154.
    EXPECT_EQ(links, name == "deep-mbr" ? 5u : 0u);
    // Every sector that begins inside a set is joined to the set's start.
    EXPECT_EQ(feed.unjoined, 0u);
}

TEST_P(DeepExFatDisk, CandidatesHoldTheVolumeWithItsEvidence) {
    ImageFileDevice device(image, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    EXPECT_EQ(feed.bootSectors, 2u + geometry.strays.size());
    EXPECT_EQ(feed.fatSectors, 1u);
    EXPECT_GE(feed.upcaseSectors, 1u);
    const CPartitionBuilder& b = feed.builder;
    const u32 spc = geometry.sectorsPerCluster;
    const i64 heap = geometry.heap;
    const CExFatPartitionEx* volume = b.FindPartition(Heap(), spc);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetRootCluster(), geometry.rootCluster);
    EXPECT_EQ(volume->GetPartitionStart(), kVolumeStart);
    EXPECT_EQ(volume->GetPartitionLength(), geometry.volumeLength);
    // Main and backup boot sectors, the FAT's first sector and the root set (empty files in it, as in
    // deep-mbr's, bound nothing).
    EXPECT_EQ(volume->GetFlags(), CExFatPartitionEx::kMainBoot | CExFatPartitionEx::kBackupBoot |
                                      CExFatPartitionEx::kFirstFat | CExFatPartitionEx::kRootSetFits);
    EXPECT_EQ(b.Candidates().front(), volume);
    EXPECT_GE(volume->MatchedCount(), name == "deep-gpt" ? 10u : 3u);
    // The reading of the main boot sector as a backup is gone once the real backup confirmed it.
    EXPECT_EQ(b.FindPartition(kVolumeStart - 12 + heap, spc), nullptr);
    if (name != "deep-mbr") return;
    // Sector 5: only a main reading. The stray past the volume: a main and a backup reading.
    ASSERT_EQ(geometry.strays.size(), 2u);
    const i64 early = geometry.strays[0];
    const i64 late = geometry.strays[1];
    ASSERT_NE(b.FindPartition(early + heap, spc), nullptr);
    EXPECT_EQ(b.FindPartition(early + heap, spc)->GetFlags(), CExFatPartitionEx::kMainBoot);
    ASSERT_NE(b.FindPartition(late + heap, spc), nullptr);
    EXPECT_EQ(b.FindPartition(late + heap, spc)->GetFlags(), CExFatPartitionEx::kMainBoot);
    ASSERT_NE(b.FindPartition(late - 12 + heap, spc), nullptr);
    EXPECT_EQ(b.FindPartition(late - 12 + heap, spc)->GetFlags(), CExFatPartitionEx::kBackupBoot);
    EXPECT_EQ(b.CandidateCount(), 4u);
}

TEST_P(DeepExFatDisk, BlockEdgesAndASecondRunChangeNothing) {
    ImageFileDevice device(image, 512);
    DeepExFatFeed first;
    first.Run(device);
    const std::string expected = Digest(first.builder);
    // Small blocks put block edges inside entry sets and folders; a second search in the same process
    // starts from nothing.
    for (const i64 block : {i64{8192}, i64{1000}, i64{37}, i64{3}}) {
        SCOPED_TRACE(block);
        DeepExFatFeed again;
        again.Run(device, block);
        EXPECT_EQ(Digest(again.builder), expected);
    }
}

// The sets of the volume's folders on the disk: the first sector of each run of folder sectors (a folder
// cut by another's clusters begins a set again), the root folder's cluster included.
std::set<i64> FolderSetStarts(const std::vector<Entry>& entries, i64 rootSector) {
    std::set<i64> sectors{rootSector};
    for (const Entry& e : entries) {
        if (!e.folder) continue;
        for (size_t i = 0; i < e.sectors.size(); ++i) {
            if (i == 0 || e.sectors[i] != e.sectors[i - 1] + 1) sectors.insert(e.sectors[i]);
        }
    }
    return sectors;
}

TEST_P(DeepExFatDisk, TheChoiceKeepsTheVolumeAlone) {
    ImageFileDevice device(image, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    std::list<std::unique_ptr<CExFatPartitionEx>> chosen;
    feed.builder.FinishBuid(chosen);
    // The strays of deep-mbr (sector 5: a main reading; past the volume: a main and a backup reading)
    // hold no set on their cluster grid and are rejected.
    ASSERT_EQ(chosen.size(), 1u);
    const CExFatPartitionEx& volume = *chosen.front();
    EXPECT_EQ(volume.GetDataRegionStart(), Heap());
    EXPECT_EQ(volume.GetSectorsPerCluster(), geometry.sectorsPerCluster);
    EXPECT_EQ(volume.GetPartitionStart(), kVolumeStart);
    EXPECT_EQ(volume.GetPartitionLength(), geometry.volumeLength);
    EXPECT_EQ(volume.GetRootCluster(), geometry.rootCluster);
    EXPECT_EQ(volume.GetClusterSize(), 512u * geometry.sectorsPerCluster);
    EXPECT_EQ(feed.builder.RejectedCount(), name == "deep-mbr" ? 3u : 0u);
    // Every folder set of the volume is among its data sectors, which hold nothing outside it; the
    // sets it took are no longer free for another candidate.
    const std::vector<i64>& data = volume.AlignedDataSectors();
    const std::set<i64> dataSet(data.begin(), data.end());
    EXPECT_EQ(dataSet.size(), data.size()) << "a data sector listed twice";
    for (const i64 s : FolderSetStarts(entries, ClusterSector(geometry.rootCluster))) {
        if (feed.builder.FindFileSet(s) == nullptr) continue;  // a folder sector holding no entry
        EXPECT_EQ(dataSet.count(s), 1u) << s;
    }
    for (const i64 s : data) {
        EXPECT_GE(s, Heap());
        EXPECT_LT(s, kVolumeStart + geometry.volumeLength);
    }
    EXPECT_GE(volume.MatchedCount(), name == "deep-gpt" ? 10u : 3u);
    for (const CFileSet* set : volume.MatchedSets()) EXPECT_TRUE(feed.builder.IsAssigned(const_cast<CFileSet*>(set)));
}

INSTANTIATE_TEST_SUITE_P(Disks, DeepExFatDisk, ::testing::Values("deep-mbr", "deep-gpt"),
                         [](const auto& info) { return std::string(info.param) == "deep-mbr" ? "Mbr" : "Gpt"; });

class DeepExFatLost : public DeepExFatDisk {};

TEST_P(DeepExFatLost, TheRootSetAndTheUpCaseTablePlaceAVolumeWithoutBootSectors) {
    // Both boot regions and the FAT wiped: the root set gives the geometry back.
    const auto wiped = Wiped({{kVolumeStart, 24}, {kVolumeStart + 2048, 1}});
    ImageFileDevice device(wiped, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    EXPECT_EQ(feed.bootSectors + feed.fatSectors, 0u);
    const CExFatPartitionEx* volume = feed.builder.FindPartition(Heap(), geometry.sectorsPerCluster);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetRootCluster(), geometry.rootCluster);
    EXPECT_EQ(volume->GetFlags() & CExFatPartitionEx::kRootSetFits, CExFatPartitionEx::kRootSetFits);
    EXPECT_EQ(feed.builder.Candidates().front(), volume);
    // Chosen alone; its data sectors end at its last set on the cluster grid.
    std::list<std::unique_ptr<CExFatPartitionEx>> chosen;
    feed.builder.FinishBuid(chosen);
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen.front()->GetDataRegionStart(), Heap());
    EXPECT_EQ(chosen.front()->GetSectorsPerCluster(), geometry.sectorsPerCluster);
    EXPECT_EQ(chosen.front()->GetRootCluster(), geometry.rootCluster);
    EXPECT_TRUE(chosen.front()->IsMatched(feed.builder.FindFileSet(ClusterSector(geometry.rootCluster))));
}

TEST_P(DeepExFatLost, AFolderTreePlacesAVolumeWithoutBootSectorsOrRoot) {
    // The root folder wiped as well: the tree under /Tree still fits one geometry.
    const auto wiped = Wiped({{kVolumeStart, 24}, {kVolumeStart + 2048, 1},
                              {ClusterSector(geometry.rootCluster), geometry.sectorsPerCluster}});
    ImageFileDevice device(wiped, 512);
    DeepExFatFeed feed;
    feed.Run(device);
    const CExFatPartitionEx* volume = feed.builder.FindPartition(Heap(), geometry.sectorsPerCluster);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetFlags(), CExFatPartitionEx::kTreeFits);
    EXPECT_GE(volume->MatchedCount(), 10u);
    std::list<std::unique_ptr<CExFatPartitionEx>> chosen;
    feed.builder.FinishBuid(chosen);
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.front()->GetDataRegionStart(), Heap());
    EXPECT_EQ(chosen.front()->GetSectorsPerCluster(), geometry.sectorsPerCluster);
    EXPECT_GE(chosen.front()->MatchedCount(), 10u);
    for (const auto& other : chosen) {
        // Any other choice holds sets the volume's tree did not reach, not a copy of its own.
        EXPECT_FALSE(IsOverlaped(chosen.front()->MatchedSets(), other->MatchedSets()) && other != chosen.front());
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, DeepExFatLost, ::testing::Values("deep-gpt"),
                         [](const auto&) { return std::string("Gpt"); });

}  // namespace

namespace {

// Hostile byte patches to the GPT disk: every case ends, under the sanitizers, with the volume still
// found through its boot sectors.
TEST(DeepExFatHostile, EveryCaseEndsCleanly) {
    const auto table = testsupport::ReadHostileTable(testsupport::FixturePath("exfat/deep-hostile.tsv"));
    ASSERT_GE(table.size(), 9u);
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-gpt.img.xz"));
    const Geometry geometry = ReadGeometry("deep-gpt");
    testsupport::TempDir dir;
    for (const testsupport::HostileCase& c : table) {
        SCOPED_TRACE(c.name);
        const auto patched = dir.path() / (c.name + ".img");
        testsupport::ApplyPatches(image, c.patches, patched);
        ImageFileDevice device(patched, 512);
        for (const i64 block : {i64{0}, i64{37}}) {
            DeepExFatFeed feed;
            feed.Run(device, block);
            const auto list = feed.builder.Candidates();
            ASSERT_FALSE(list.empty());
            EXPECT_EQ(list.front()->GetDataRegionStart(), kVolumeStart + geometry.heap);
            EXPECT_LE(list.size(), CPartitionBuilder::kTrimAt - 1);
        }
    }
}

}  // namespace

namespace {

// The quick search's volumes fed whole (4096-byte sectors among them): the best candidate is each volume
// with the geometry dump.exfat gives, found from its main and backup boot sectors and its FAT.
TEST(DeepExFatVolumes, TheBestCandidateIsTheVolume) {
    struct Case {
        const char* name;
        u32 sectorSize;
        i64 start;
        i64 heap;
        u32 sectorsPerCluster;
        u32 rootCluster;
        i64 length;
    };
    const std::vector<Case> cases = {
        {"exfat-4k", 512, 0, 4096, 8, 5, 65536},
        {"exfat-32k", 512, 0, 4096, 64, 4, 131072},
        {"exfat-4kn", 4096, 0, 512, 4, 4, 8192},
        {"gpt-exfat", 512, 2048, 4096, 16, 4, 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = testsupport::UnpackXzShared(testsupport::FixturePath(std::string("exfat/") + c.name + ".img.xz"));
        ImageFileDevice device(image, c.sectorSize);
        DeepExFatFeed feed;
        feed.Run(device);
        const auto list = feed.builder.Candidates();
        ASSERT_FALSE(list.empty());
        const CExFatPartitionEx& best = *list.front();
        EXPECT_EQ(best.GetDataRegionStart(), c.start + c.heap);
        EXPECT_EQ(best.GetSectorsPerCluster(), c.sectorsPerCluster);
        EXPECT_EQ(best.GetRootCluster(), c.rootCluster);
        EXPECT_EQ(best.GetPartitionStart(), c.start);
        EXPECT_EQ(best.GetPartitionLength(), c.length);
        EXPECT_EQ(best.GetSectorSize(), c.sectorSize);
        // The root set fits too, empty files in it or not.
        EXPECT_EQ(best.GetFlags(), CExFatPartitionEx::kMainBoot | CExFatPartitionEx::kBackupBoot |
                                       CExFatPartitionEx::kFirstFat | CExFatPartitionEx::kRootSetFits);
        EXPECT_GE(best.MatchedCount(), 8u);
    }
}

}  // namespace
