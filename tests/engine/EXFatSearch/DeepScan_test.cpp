// The deep exFAT searcher driven as the deep-scan controller drives it, end to end: the volumes it
// chooses, the records it answers and the nodes it hands the tree builder, against The Sleuth Kit's
// listing (paths, sizes, deleted marks, the sectors of every file) of the fixture disks.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/Utility/IDataRunList.h"
#include "engine/EXFatSearch/DeepExFatFeed.h"
#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/CapturingTreeBuilder.h"
#include "support/DeepBlockFeeder.h"
#include "support/Fixtures.h"
#include "support/HostileTable.h"
#include "support/ImageFileDevice.h"
#include "support/TempDir.h"

using testsupport::CapturingTreeBuilder;
using testsupport::DeepBlockFeeder;
using testsupport::ImageFileDevice;

namespace {

constexpr i64 kVolumeStart = 2048;

struct Expected {
    bool folder = false;
    bool deleted = false;
    i64 size = 0;
    std::vector<i64> sectors;  // disk sectors
    std::string path;
};

// fls's entries of the fixture with the sectors istat gives (counted from the volume start).
std::vector<Expected> ReadExpected(const std::string& name, i64 start) {
    std::vector<Expected> out;
    std::ifstream in(testsupport::FixturePath("exfat/" + name + ".entries.txt"));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() < 5) continue;
        Expected e{f[0] == "d", f[1] == "1", std::stoll(f[2]), {}, f[4]};
        std::istringstream s(f[3]);
        for (i64 v = 0; s >> v;) e.sectors.push_back(v + start);
        out.push_back(e);
    }
    return out;
}

// dump.exfat's value of one field.
i64 GeometryValue(const std::string& name, const std::string& field) {
    std::ifstream in(testsupport::FixturePath("exfat/" + name + ".geometry.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) return std::stoll(line.substr(line.find_last_of(" \t") + 1));
    }
    return -1;
}


struct Listed {
    std::string path;
    i64 size;
    bool deleted;
    bool folder;
    std::vector<i64> sectors;  // of the data, as many as the size needs
    u16 partition;
    i64 id;
};

struct Outcome {
    std::vector<Listed> listed;
    std::vector<CSearchedPartitionInfo> records;
    i64 root = 0;
    std::vector<_tagSearcherType> flashes;
    IStorageDevice* device = nullptr;
    int refused = 0;
};

std::vector<i64> DataSectors(CFileNode* node, const CSearchedPartitionInfo& record, u32 sectorSize) {
    std::vector<i64> out;
    IDataRunList* runs = node->GetDataRunList();
    const i64 wanted = (node->GetFileSize() + sectorSize - 1) / sectorSize;
    if (runs == nullptr || node->IsDirectory()) return out;
    for (DataRun* run = runs->GetFirst(); run != nullptr; run = runs->GetNext()) {
        const i64 first = record.m_cluster0Sector + run->start * record.m_sectorsPerCluster;
        for (i64 s = 0; s < static_cast<i64>(run->length) * record.m_sectorsPerCluster; ++s) {
            if (static_cast<i64>(out.size()) == wanted) return out;
            out.push_back(first + s);
        }
    }
    return out;
}

Outcome Collect(CExFatCompleteSearch& search, CapturingTreeBuilder& tree, u32 sectorSize) {
    Outcome o;
    const int count = search.GetSearchedPartitionInfo(nullptr, 0);
    std::vector<CSearchedPartitionInfo*> records(static_cast<size_t>(count), nullptr);
    if (count > 0) {
        EXPECT_EQ(search.GetSearchedPartitionInfo(records.data(), count), count);
    }
    for (CSearchedPartitionInfo* r : records) {
        o.records.push_back(*r);
        delete r;
    }
    for (const auto& e : tree.List(SEARCHER_EXFAT)) {
        const u16 index = static_cast<CFileNode*>(e.node)->GetBelongedPartition();
        std::vector<i64> sectors;
        if (index < o.records.size()) sectors = DataSectors(static_cast<CFileNode*>(e.node), o.records[index], sectorSize);
        o.listed.push_back({e.path, e.size, e.deleted, e.directory, sectors, index, e.node->GetCurrentNodeID()});
    }
    o.root = tree.roots.count(SEARCHER_EXFAT) ? tree.roots.at(SEARCHER_EXFAT) : 0;
    o.flashes = tree.flashes;
    o.device = tree.device;
    o.refused = tree.refused;
    return o;
}

Outcome Scan(const std::filesystem::path& image, u32 sectorSize, i64 block = 0, int build = 1) {
    ImageFileDevice device(image, sectorSize);
    CExFatCompleteSearch search;
    CapturingTreeBuilder tree;
    DeepBlockFeeder feeder(search, device, &tree);
    feeder.SetBlockSectors(block);
    feeder.Prepare();
    feeder.FeedAll();
    feeder.End(build);
    Outcome o = Collect(search, tree, sectorSize);
    if (o.device == &device) o.device = reinterpret_cast<IStorageDevice*>(1);  // seen, the device is gone
    return o;
}

// The same through the deep scan's read-ahead cache, as the controller feeds it: the searcher reads each
// block where the cache holds it.
Outcome ScanCached(const std::filesystem::path& image, u32 sectorSize, i64 block) {
    ImageFileDevice device(image, sectorSize);
    CStorageDeviceWithCache cache(&device);
    EXPECT_EQ(cache.SetBlockSize(static_cast<u32>(block)), 1);
    cache.BeginCache();
    CExFatCompleteSearch search;
    CapturingTreeBuilder tree;
    DeepBlockFeeder feeder(search, cache, &tree);
    feeder.SetBlockSectors(block);
    feeder.Prepare();
    const i64 total = cache.GetTotalSectors();
    for (i64 b = 0; b * block < total; ++b) {
        EXPECT_EQ(cache.SetCurCacheBlock(b), 1);
        feeder.Feed(b * block, std::min(block, total - b * block));
    }
    feeder.End(1);
    cache.EndCache();
    return Collect(search, tree, sectorSize);
}

// Copies the image with runs of sectors (of 512 bytes) zeroed.
std::filesystem::path Wiped(const std::filesystem::path& image, const std::vector<std::pair<i64, i64>>& runs,
                            const std::filesystem::path& out) {
    std::vector<testsupport::BytePatch> patches;
    for (const auto& [first, count] : runs) {
        patches.push_back({"", static_cast<u64>(first) * 512, std::string(static_cast<size_t>(count) * 512, '\0')});
    }
    testsupport::ApplyPatches(image, patches, out);
    return out;
}

// Every expected entry is listed once at its path in the volume's partition, with fls's size and
// deleted mark; where the table is whole (or the file lies in one cluster) its data sectors are istat's.
// Chained files of a volume found without its FAT hold their first cluster only, and a folder owns its
// first cluster only: what its later clusters list comes back among the lost files.
void ExpectListing(const Outcome& o, const std::vector<Expected>& expected, u16 partition, bool withFat,
                   const std::string& under = "") {
    std::multimap<std::string, const Listed*> byPath;
    for (const Listed& l : o.listed) {
        if (l.partition == partition) byPath.emplace(l.path, &l);
    }
    std::set<std::string> fragmented;
    for (const Expected& x : expected) {
        for (size_t i = 1; x.folder && i < x.sectors.size(); ++i) {
            if (x.sectors[i] != x.sectors[i - 1] + 1) fragmented.insert(x.path);
        }
    }
    size_t checkedSectors = 0;
    for (const Expected& x : expected) {
        SCOPED_TRACE(x.path);
        const size_t slash = x.path.rfind('/');
        const bool mayBeLost = !withFat && slash != std::string::npos && fragmented.count(x.path.substr(0, slash)) != 0;
        const Listed* match = nullptr;
        for (const std::string& path : {under + x.path, "<lost>/" + x.path.substr(slash + 1)}) {
            const auto [from, to] = byPath.equal_range(path);
            for (auto it = from; it != to; ++it) {
                const Listed& l = *it->second;
                if (l.deleted == x.deleted && l.folder == x.folder && (x.folder || l.size == x.size)) match = &l;
            }
            if (match != nullptr || !mayBeLost) break;
        }
        ASSERT_NE(match, nullptr) << "listed " << byPath.count(under + x.path) << " times";
        if (x.folder) continue;
        if (withFat || x.sectors.size() <= 1) {
            if (!x.deleted) {
                EXPECT_EQ(match->sectors, x.sectors);
            }
            ++checkedSectors;
        } else if (!x.sectors.empty() && !match->sectors.empty()) {
            EXPECT_EQ(match->sectors.front(), x.sectors.front());
        }
    }
    EXPECT_GE(checkedSectors, 5u);
}

class ExFatDeepScan : public ::testing::Test {
protected:
    void SetUp() override { Load("deep-mbr"); }
    void Load(const std::string& fixture) {
        name = fixture;
        image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/" + name + ".img.xz"));
        heap = GeometryValue(name, "Cluster Heap Offset");
        spc = 1u << GeometryValue(name, "Sector per Cluster bits");
        length = GeometryValue(name, "Volume Length");
        rootCluster = static_cast<u32>(GeometryValue(name, "Root Cluster"));
        expected = ReadExpected(name, kVolumeStart);
        ASSERT_GT(expected.size(), 20u);
    }
    // The partition table zeroed: the MBR, or GPT's header and entries at both ends of the disk.
    std::vector<std::pair<i64, i64>> Table() const {
        if (name == "deep-mbr") return {{0, 1}};
        const i64 sectors = static_cast<i64>(std::filesystem::file_size(image) / 512);
        return {{0, 34}, {sectors - 33, 33}};
    }
    std::string name;
    std::filesystem::path image;
    i64 heap = 0;
    u32 spc = 0;
    i64 length = 0;
    u32 rootCluster = 0;
    std::vector<Expected> expected;
    testsupport::TempDir dir;
};

TEST_F(ExFatDeepScan, TheZeroedTableDiskGivesTheVolumeAndItsFiles) {
  for (const char* fixture : {"deep-mbr", "deep-gpt"}) {
    SCOPED_TRACE(fixture);
    Load(fixture);
    const auto disk = Wiped(image, Table(), dir.path() / "zeroed.img");
    const Outcome o = Scan(disk, 512);
    ASSERT_EQ(o.records.size(), 1u);
    const CSearchedPartitionInfo& r = o.records[0];
    EXPECT_EQ(r.m_fileSystemType, FILE_SYSTEM_EXFAT);
    EXPECT_EQ(r.m_partitionIndex, 0);
    EXPECT_EQ(r.m_partitionStartSector, kVolumeStart);
    EXPECT_EQ(r.m_cluster0Sector, kVolumeStart + heap);
    EXPECT_EQ(r.GetTotalSectors(), length);
    EXPECT_EQ(r.m_sectorsPerCluster, spc);
    EXPECT_EQ(r.m_sectorSize, 512u);
    EXPECT_EQ(o.root, -1);
    EXPECT_EQ(o.flashes, std::vector<_tagSearcherType>{SEARCHER_EXFAT});
    EXPECT_NE(o.device, nullptr);
    EXPECT_EQ(o.refused, 0);
    ExpectListing(o, expected, 0, true);
    // Nothing is listed twice at one path with the same deleted mark, and nothing lands among the lost.
    std::map<std::pair<std::string, bool>, int> seen;
    for (const Listed& l : o.listed) ++seen[{l.path, l.deleted}];
    for (const auto& [key, n] : seen) EXPECT_EQ(n, 1) << key.first;
    // Empty files have IDs of their own, from 2^32 on; no two nodes share an ID unless one was deleted.
    std::map<i64, int> live;
    for (const Listed& l : o.listed) {
        if (l.size == 0 && !l.folder) {
            EXPECT_GE(l.id, CExFatPartition::kFirstVirtualId) << l.path;
        }
        if (!l.deleted) {
            EXPECT_EQ(++live[l.id], 1) << l.path;
        }
    }
  }
}

// Without boot sectors the root set places the volume, with the up-case table's first sector or alone.
// deep-mbr's root holds empty files (they own no cluster and bound nothing); deep-gpt's holds none.
TEST_F(ExFatDeepScan, WipedBootRegionsAndUpCaseTableStillGiveTheFiles) {
  for (const char* fixture : {"deep-mbr", "deep-gpt"}) {
    SCOPED_TRACE(fixture);
    Load(fixture);
    // mkfs.exfat writes a one-cluster bitmap at cluster 2, then the up-case table up to the root's cluster.
    const i64 upcase = kVolumeStart + heap + spc;
    struct Case {
        const char* name;
        std::vector<std::pair<i64, i64>> wiped;
    };
    std::vector<Case> cases = {
        {"boot regions", {{kVolumeStart, 24}}},
        {"boot regions and up-case table", {{kVolumeStart, 24}, {upcase, i64{rootCluster - 3} * spc}}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& run : Table()) c.wiped.push_back(run);
        const auto disk = Wiped(image, c.wiped, dir.path() / "wiped.img");
        const Outcome o = Scan(disk, 512);
        ASSERT_EQ(o.records.size(), 1u);
        const CSearchedPartitionInfo& r = o.records[0];
        EXPECT_EQ(r.m_cluster0Sector, kVolumeStart + heap);
        EXPECT_EQ(r.m_sectorsPerCluster, spc);
        ExpectListing(o, expected, 0, false);
    }
  }
}

TEST_F(ExFatDeepScan, ASecondScanInOneProcessAndOtherBlockSizesGiveTheSame) {
    const auto disk = Wiped(image, {{0, 1}}, dir.path() / "zeroed.img");
    auto text = [](const Outcome& o) {
        std::ostringstream out;
        for (const auto& r : o.records) {
            out << r.m_partitionStartSector << ' ' << r.m_cluster0Sector << ' ' << r.GetTotalSectors() << ' '
                << r.m_sectorsPerCluster << '\n';
        }
        std::vector<std::string> lines;
        for (const Listed& l : o.listed) {
            std::ostringstream line;
            line << l.path << ' ' << l.size << ' ' << l.deleted << ' ' << l.id << ' ' << l.sectors.size();
            lines.push_back(line.str());
        }
        std::sort(lines.begin(), lines.end());
        for (const auto& l : lines) out << l << '\n';
        return out.str();
    };
    const std::string first = text(Scan(disk, 512));
    EXPECT_EQ(text(Scan(disk, 512)), first);
    for (const i64 block : {i64{1000}, i64{37}, i64{3}}) {
        SCOPED_TRACE(block);
        EXPECT_EQ(text(Scan(disk, 512, block)), first);
        EXPECT_EQ(text(ScanCached(disk, 512, block)), first);
    }
}

TEST_F(ExFatDeepScan, EndSearchWithoutBuildLeavesEverythingUnbuilt) {
    const Outcome o = Scan(image, 512, 0, 0);
    EXPECT_TRUE(o.records.empty());
    EXPECT_TRUE(o.listed.empty());
    EXPECT_TRUE(o.flashes.empty());
    EXPECT_EQ(o.root, 0);
}

}  // namespace


namespace {

// Every hostile patch of the GPT disk through the whole deep scan, the end step included: it ends
// without a crash or sanitizer report and still gives the volume. A folder whose length passes
// 268,435,455 bytes owns no clusters: what lies in them finds no parent below it.
TEST(ExFatDeepScanHostile, EveryCaseEndsWithTheVolume) {
    const auto table = testsupport::ReadHostileTable(testsupport::FixturePath("exfat/deep-hostile.tsv"));
    ASSERT_GE(table.size(), 9u);
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-gpt.img.xz"));
    const i64 heap = GeometryValue("deep-gpt", "Cluster Heap Offset");
    testsupport::TempDir dir;
    bool sawLongFolder = false;
    for (const testsupport::HostileCase& c : table) {
        SCOPED_TRACE(c.name);
        const auto patched = dir.path() / "patched.img";
        testsupport::ApplyPatches(image, c.patches, patched);
        for (const i64 block : {i64{0}, i64{37}}) {
            const Outcome o = Scan(patched, 512, block);
            ASSERT_FALSE(o.records.empty());
            EXPECT_EQ(o.records[0].m_cluster0Sector, kVolumeStart + heap);
            if (c.name != "folder-length-past-32-bits") continue;
            sawLongFolder = true;
            size_t below = 0;
            for (const Listed& l : o.listed) {
                EXPECT_NE(l.path.rfind("Tree/", 0), 0u) << l.path;
                below += l.path.find("Alpha") != std::string::npos ? 1 : 0;
            }
            EXPECT_GE(below, 1u);  // Tree's children are still listed, elsewhere
        }
    }
    EXPECT_TRUE(sawLongFolder);
}

// A sector is classified by its first bytes alone: one starting with 0 is never parsed for entries.
TEST(ExFatDeepScanSectors, ClassificationTable) {
    auto sector = [](std::initializer_list<std::pair<size_t, u8>> bytes) {
        std::vector<u8> s(512 * 3, 0);
        for (const auto& [at, v] : bytes) s[at] = v;
        return s;
    };
    std::vector<u8> upcase(512 * 3, 0);
    for (size_t k = 0; k < 8; ++k) upcase[k * 2] = static_cast<u8>(k);
    std::vector<u8> notUpcase = upcase;
    notUpcase[14] = 9;
    const auto boot = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/exfat-4k.img.xz"));
    std::vector<u8> bootSector(512 * 3, 0);
    std::ifstream(boot, std::ios::binary).read(reinterpret_cast<char*>(bootSector.data()), 512);
    std::vector<u8> badBoot = bootSector;
    badBoot[511] = 0;
    // A file entry set in slot 1 behind an empty slot 0.
    std::vector<u8> zeroFirst = sector({{32, 0x85}, {33, 2}, {64, 0xC0}, {96, 0xC1}});
    const struct {
        const char* name;
        std::vector<u8> bytes;
        exfatdeep::SectorKind kind;
    } cases[] = {
        {"up-case start", upcase, exfatdeep::SectorKind::UpCase},
        {"0 1 2 3 4 5 6 9", notUpcase, exfatdeep::SectorKind::Zero},
        {"entries behind a 0 byte", zeroFirst, exfatdeep::SectorKind::Zero},
        {"boot sector", bootSector, exfatdeep::SectorKind::Boot},
        {"boot sector without 55 AA", badBoot, exfatdeep::SectorKind::Entries},
        {"FAT start", sector({{0, 0xF8}, {1, 0xFF}, {2, 0xFF}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}}),
         exfatdeep::SectorKind::Fat},
        {"FAT start of FAT32", sector({{0, 0xF8}, {1, 0xFF}, {2, 0xFF}, {3, 0x0F}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0x0F}}),
         exfatdeep::SectorKind::Entries},
        {"file entry", sector({{0, 0x85}, {1, 2}}), exfatdeep::SectorKind::Entries},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(exfatdeep::ClassifySector(ByteReader(c.bytes.data(), c.bytes.size()), 512), c.kind);
    }
    // Through the searcher: the sector with entries behind a 0 byte gives no set.
    CExFatCompleteSearch search;
    testsupport::CapturingTreeBuilder tree;
    ImageFileDevice device(boot, 512);
    search.SetDevice(&device);
    search.SetBlockSize(64);
    search.SetDirecotryTreeBuilder(&tree);
    search.PreparetoSearch();
    ASSERT_EQ(search.AnalyzeBlock(0, 64), 1);
    const size_t before = search.Builder().PushedSets().size();
    search.AnalyzeSector(100000, ByteReader(zeroFirst.data(), zeroFirst.size()));
    search.AnalyzeSector(100001, ByteReader(upcase.data() + 512, 1024));
    EXPECT_EQ(search.Builder().PushedSets().size(), before);
}

// The record count: asked with no room or count 0 it answers the number; a smaller count fills nothing.
TEST(ExFatDeepScanRecords, CountFirstThenFill) {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-mbr.img.xz"));
    ImageFileDevice device(image, 512);
    CExFatCompleteSearch search;
    CapturingTreeBuilder tree;
    DeepBlockFeeder feeder(search, device, &tree);
    feeder.Prepare();
    feeder.FeedAll();
    EXPECT_EQ(search.GetSearchedPartitionInfo(nullptr, 0), 0);  // nothing chosen before the end
    feeder.End(1);
    const size_t nodes = tree.accepted.size();
    EXPECT_GT(nodes, 200u);
    // A second end hands nothing over again.
    feeder.End(1);
    EXPECT_EQ(tree.accepted.size(), nodes);
    EXPECT_EQ(tree.flashes.size(), 1u);
    CSearchedPartitionInfo* slots[2] = {nullptr, nullptr};
    EXPECT_EQ(search.GetSearchedPartitionInfo(nullptr, 0), 1);
    EXPECT_EQ(search.GetSearchedPartitionInfo(slots, 0), 1);
    EXPECT_EQ(slots[0], nullptr);
    EXPECT_EQ(search.GetSearchedPartitionInfo(slots, 2), 1);
    ASSERT_NE(slots[0], nullptr);
    EXPECT_EQ(slots[0]->m_partitionIndex, 0);
    EXPECT_EQ(slots[0]->m_fileSystemType, FILE_SYSTEM_EXFAT);
    EXPECT_EQ(slots[1], nullptr);
    delete slots[0];
    // Not set up: no device, no tree builder or no block size answers 0.
    CExFatCompleteSearch bare;
    EXPECT_EQ(bare.AnalyzeBlock(0, 8), 0);
    bare.SetDevice(&device);
    bare.SetBlockSize(8);
    EXPECT_EQ(bare.AnalyzeBlock(0, 8), 0);
    bare.SetDirecotryTreeBuilder(&tree);
    EXPECT_EQ(bare.AnalyzeBlock(0, 8), 1);
}

}  // namespace

namespace {

// Two volumes of 4 KiB and 32 KiB clusters on a disk without its MBR, alone and with a stray boot sector
// of 8 KiB clusters between them whose cluster grid holds the second volume's clusters: both volumes are
// chosen, each with its own files, and the stray is rejected.
TEST(ExFatDeepScanTwoVolumes, BothVolumesWithTheirOwnFilesAndTheStrayRejected) {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-two.img.xz"));
    testsupport::TempDir dir;
    const auto stray = testsupport::ReadHostileTable(testsupport::FixturePath("exfat/deep-two-stray.tsv"));
    ASSERT_EQ(stray.size(), 1u);
    struct Volume {
        i64 start, heap, length;
        u32 spc;
        const char* fls;
    };
    const Volume volumes[] = {{2048, 4096, 65536, 8, "deep-two-p1"}, {69632, 4096, 131072, 64, "deep-two-p2"}};
    for (const bool withStray : {false, true}) {
        SCOPED_TRACE(withStray ? "with the stray" : "alone");
        std::vector<testsupport::BytePatch> patches{{"", 0, std::string(512, '\0')}};
        if (withStray) patches.insert(patches.end(), stray[0].patches.begin(), stray[0].patches.end());
        const auto disk = dir.path() / "disk.img";
        testsupport::ApplyPatches(image, patches, disk);
        if (withStray) {
            // The stray is a candidate of its own before the choice.
            ImageFileDevice device(disk, 512);
            exfattest::DeepExFatFeed feed;
            feed.Run(device);
            EXPECT_EQ(feed.bootSectors, 5u);
            const i64 at = static_cast<i64>(stray[0].patches[0].offset / 512);
            const CExFatPartitionEx* candidate = feed.builder.FindPartition(at + 4096, 16);
            ASSERT_NE(candidate, nullptr);
            EXPECT_EQ(candidate->GetFlags(), CExFatPartitionEx::kMainBoot);
        }
        const Outcome o = Scan(disk, 512);
        ASSERT_EQ(o.records.size(), 2u);
        // Empty files of both volumes draw distinct virtual IDs.
        std::map<i64, int> virtualIds;
        for (const Listed& l : o.listed) {
            if (!l.folder && l.size == 0) ++virtualIds[l.id];
        }
        EXPECT_GE(virtualIds.size(), 4u);
        for (const auto& [id, n] : virtualIds) {
            EXPECT_GE(id, CExFatPartition::kFirstVirtualId);
            EXPECT_EQ(n, 1) << id;
        }
        for (u16 k = 0; k < 2; ++k) {
            SCOPED_TRACE(volumes[k].fls);
            const CSearchedPartitionInfo& r = o.records[k];
            EXPECT_EQ(r.m_partitionIndex, k);
            EXPECT_EQ(r.m_partitionStartSector, volumes[k].start);
            EXPECT_EQ(r.m_cluster0Sector, volumes[k].start + volumes[k].heap);
            EXPECT_EQ(r.GetTotalSectors(), volumes[k].length);
            EXPECT_EQ(r.m_sectorsPerCluster, volumes[k].spc);
            std::set<std::pair<std::string, bool>> listed;
            for (const Listed& l : o.listed) {
                if (l.partition == k) listed.insert({l.path, l.deleted});
            }
            size_t found = 0;
            for (const auto& e : exfattest::FlsListing(volumes[k].fls)) {
                EXPECT_EQ(listed.count({e.path, e.deleted}), 1u) << e.path;
                ++found;
            }
            EXPECT_EQ(listed.size(), found);
        }
    }
}

}  // namespace

namespace {

_tagFileBaseInfo Record(const std::u16string& name, u32 cluster, i64 length, bool folder, bool inUse = true,
                        bool contiguous = true) {
    _tagFileBaseInfo r;
    r.firstCluster = cluster;
    r.dataLength = length;
    r.attributes = folder ? 0x10 : 0x20;
    r.inUse = inUse ? 1 : 0;
    r.noFatChain = contiguous ? 1 : 0;
    for (const char16_t c : name) r.nameUnits[r.nameUnitCount++] = c;
    return r;
}

// The parent search of the tree build: a set in the root cluster gets parent -1; a set in any cluster of
// a folder built before it gets that folder's ID (the sector of its first cluster), its second cluster
// included; a folder longer than 268,435,455 bytes owns no clusters, so a set in its second cluster
// keeps its own first sector as parent; a set continuing another takes the chain's parent. Empty files
// get virtual IDs, in-use files come before deleted ones.
TEST(ExFatDeepTree, ParentsThroughFolderClusters) {
    constexpr i64 kHeap = 1000;
    constexpr u32 kSpc = 8;
    auto sectorOf = [](u32 cluster) { return kHeap + i64{cluster - 2} * kSpc; };
    CExFatCompleteSearch search;
    CPartitionBuilder& builder = search.Builder();
    builder.PrepareBuild(512, 100000);
    struct SetShape {
        u32 cluster;
        std::vector<_tagFileBaseInfo> files;
    };
    const u64 big = 0x10000000;  // one byte more than a folder may own
    const std::vector<SetShape> sets = {
        {4, {Record(u"Big", 5, static_cast<i64>(big), true), Record(u"Small", 10, 2 * 4096, true),
             Record(u"gone.txt", 20, 100, false, false), Record(u"empty1", 0, 0, false), Record(u"empty2", 0, 0, false)}},
        {6, {Record(u"inBigSecond.txt", 30, 10, false)}},
        {11, {Record(u"inSmallSecond.txt", 31, 10, false)}},
        {10, {Record(u"inSmallFirst.txt", 32, 10, false)}},
    };
    std::map<u32, CFileSet*> byCluster;
    for (const SetShape& shape : sets) {
        auto* set = new CFileSet();
        set->RecordSector(sectorOf(shape.cluster));
        for (const auto& f : shape.files) set->AddFile(f);
        builder.PushFileSet(set, -1, -1);
        byCluster[shape.cluster] = set;
    }
    // A set continuing the one in Small's first cluster, lying in a cluster of no folder.
    auto* continued = new CFileSet();
    continued->RecordSector(sectorOf(40));
    continued->AddFile(Record(u"continued.txt", 33, 10, false));
    builder.PushFileSet(continued, sectorOf(10), -1);
    CExFatPartitionEx partition;
    partition.SetSectorSize(512);
    partition.SetSectorsPerCluster(kSpc);
    partition.SetDataRegionStart(kHeap);
    partition.SetRootCluster(4);
    partition.SetClusterBound(1000);
    for (const u32 c : {4u, 6u, 11u, 10u, 40u}) partition.AddDataSector(sectorOf(c));
    std::vector<CExFatFileNode*> nodes;
    search.BuildFileTree(partition, nodes);
    std::map<std::string, std::pair<i64, i64>> got;  // name -> (ID, parent)
    std::vector<std::string> order;
    for (CExFatFileNode* n : nodes) {
        got[n->GetFileName()] = {n->GetCurrentNodeID(), n->GetParentNodeID()};
        order.push_back(n->GetFileName());
        n->Release();
    }
    ASSERT_EQ(nodes.size(), 9u);
    EXPECT_EQ(got["Big"], std::make_pair(sectorOf(5), i64{-1}));
    EXPECT_EQ(got["Small"], std::make_pair(sectorOf(10), i64{-1}));
    EXPECT_EQ(got["gone.txt"].second, -1);
    EXPECT_EQ(got["empty1"].first, CExFatPartition::kFirstVirtualId);
    EXPECT_EQ(got["empty2"].first, CExFatPartition::kFirstVirtualId + 1);
    EXPECT_EQ(got["inBigSecond.txt"].second, sectorOf(6));
    EXPECT_EQ(got["inSmallSecond.txt"].second, sectorOf(10));
    EXPECT_EQ(got["inSmallFirst.txt"].second, sectorOf(10));
    EXPECT_EQ(got["continued.txt"].second, sectorOf(10));
    // In-use files before deleted ones within a set.
    const auto gone = std::find(order.begin(), order.end(), "gone.txt") - order.begin();
    const auto empty2 = std::find(order.begin(), order.end(), "empty2") - order.begin();
    EXPECT_GT(gone, empty2);
}

}  // namespace
