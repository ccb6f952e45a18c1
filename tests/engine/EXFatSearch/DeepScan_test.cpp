// The deep exFAT searcher driven as the deep-scan controller drives it, end to end: the volumes it
// chooses, the records it answers and the nodes it hands the tree builder, against The Sleuth Kit's
// listing (paths, sizes, deleted marks, the sectors of every file) of the fixture disks.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/Utility/IDataRunList.h"
#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
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

// Names the pre-analysis refuses (U+00FF) end their sector's entries: these files are not found.
const std::set<std::string> kLostToTheNameTable = {
    "Docs/ÿ first in its folder.txt", "Docs/after the ÿ name.txt", "Docs/Long File Name Document.txt",
    "Docs/A name of one hundred and ninety characters that needs thirteen name entries to hold it all, written "
    "out in full so that the entry set runs across many entries of its folder.txt"};

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
    if (count > 0) EXPECT_EQ(search.GetSearchedPartitionInfo(records.data(), count), count);
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
// Chained files of a volume found without its FAT hold their first cluster only.
void ExpectListing(const Outcome& o, const std::vector<Expected>& expected, u16 partition, bool withFat,
                   const std::string& under = "") {
    std::multimap<std::string, const Listed*> byPath;
    for (const Listed& l : o.listed) {
        if (l.partition == partition) byPath.emplace(l.path, &l);
    }
    size_t checkedSectors = 0;
    for (const Expected& x : expected) {
        if (kLostToTheNameTable.count(x.path) != 0) continue;
        SCOPED_TRACE(x.path);
        const auto [from, to] = byPath.equal_range(under + x.path);
        const Listed* match = nullptr;
        for (auto it = from; it != to; ++it) {
            const Listed& l = *it->second;
            if (l.deleted == x.deleted && l.folder == x.folder && (x.folder || l.size == x.size)) match = &l;
        }
        ASSERT_NE(match, nullptr) << "listed " << byPath.count(under + x.path) << " times";
        if (x.folder) continue;
        if (withFat || x.sectors.size() <= 1) {
            if (!x.deleted) EXPECT_EQ(match->sectors, x.sectors);
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
        if (l.size == 0 && !l.folder) EXPECT_GE(l.id, CExFatPartition::kFirstVirtualId) << l.path;
        if (!l.deleted) EXPECT_EQ(++live[l.id], 1) << l.path;
    }
  }
}

// deep-gpt's root holds no empty file, so its root set can place the volume (a root set holding one
// places nothing).
TEST_F(ExFatDeepScan, WipedBootRegionsAndUpCaseTableStillGiveTheFiles) {
    Load("deep-gpt");
    // mkfs.exfat writes the up-case table in the cluster before the root's.
    const i64 upcase = kVolumeStart + heap + i64{rootCluster - 3} * spc;
    struct Case {
        const char* name;
        std::vector<std::pair<i64, i64>> wiped;
    };
    std::vector<Case> cases = {
        {"boot regions", {{kVolumeStart, 24}}},
        {"boot regions and up-case table", {{kVolumeStart, 24}, {upcase, spc}}},
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

