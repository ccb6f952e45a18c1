// The quick exFAT search over the committed images, checked against The Sleuth Kit's listings, sectors
// and bytes, and over volumes built in memory for the roads the images do not take.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/RecordingProgress.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

using fattest::RecordingTreeBuilder;
using exfattest::ImageCase;

namespace {

struct Scan {
    std::unique_ptr<IStorageDevice> device;
    RecordingTreeBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<CExFatQuickSearch> searcher = std::make_unique<CExFatQuickSearch>();

    explicit Scan(std::unique_ptr<IStorageDevice> volume) : device(std::move(volume)) {
        searcher->SetDirecotryTreeBuilder(&builder);
    }
    explicit Scan(const ImageCase& c, const std::filesystem::path& image)
        : Scan(std::make_unique<fattest::FileDevice>(image, c.sectorSize, STORAGE_DEVICE_VOLUME, c.firstSector,
                                                     c.sectors)) {}
    u64 Run() { return searcher->QuickSearchFiles(device.get(), &progress); }
    std::map<std::string, RecordingTreeBuilder::Listed> ByPath() const { return builder.ByPath(); }
    std::unique_ptr<CSearchedPartitionInfo> Record() {
        CSearchedPartitionInfo* record = nullptr;
        if (searcher->GetSearchedPartitionInfo(&record, 1) != 1) return nullptr;
        return std::unique_ptr<CSearchedPartitionInfo>(record);
    }
};

// The clusters a node's runs cover, in file order.
std::vector<i64> Clusters(IFileNode* node) {
    std::vector<i64> out;
    IDataRunList* runs = dynamic_cast<CFileNode*>(node)->GetDataRunList();
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r != nullptr; r = runs->GetNext()) {
        for (u64 i = 0; i < r->length; ++i) out.push_back(r->start + static_cast<i64>(i));
    }
    return out;
}

}  // namespace

// Every file and folder fls lists, live and deleted, reaches the builder with its path, size and mark;
// its runs cover istat's sectors in order, and the bytes read through them equal icat's (and what the
// generator wrote).
TEST(ExFatQuickSearch, HandsOverWhatTheSleuthKitLists) {
    for (const ImageCase& c : exfattest::Images()) {
        SCOPED_TRACE(c.name);
        Scan scan(c, exfattest::Image(c.name));
        ASSERT_EQ(scan.Run(), 0u);
        const auto ours = scan.ByPath();
        const auto fls = exfattest::FlsListing(c.name);
        size_t deleted = 0;
        for (const auto& e : fls) {
            SCOPED_TRACE(e.path);
            auto it = ours.find(e.path);
            ASSERT_NE(it, ours.end());
            EXPECT_EQ(it->second.deleted, e.deleted);
            EXPECT_EQ(it->second.directory, e.directory);
            deleted += e.deleted ? 1 : 0;
        }
        EXPECT_EQ(ours.size(), fls.size());
        EXPECT_GE(deleted, 10u);

        auto record = scan.Record();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->m_fileSystemType, FILE_SYSTEM_EXFAT);
        EXPECT_EQ(record->m_sectorSize, c.sectorSize);
        EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_EXFAT});
        EXPECT_EQ(scan.builder.m_searchers.at(SEARCHER_EXFAT),
                  scan.searcher->Partition().ConvertClusterNumToSector(scan.searcher->Partition().GetRootCluster()));

        const auto planted = exfattest::PlantedSums(c.name);
        const auto istat = exfattest::IstatSectors(c.name);
        for (const auto& [path, sum] : exfattest::IcatSums(c.name)) {
            SCOPED_TRACE(path);
            auto it = ours.find(path);
            ASSERT_NE(it, ours.end());
            // istat's sectors (from the volume's start), as clusters from cluster 2, in file order.
            std::vector<i64> clusters;
            for (i64 s : istat.at(path)) {
                const i64 cl = (s - record->m_cluster0Sector) / record->m_sectorsPerCluster;
                if (clusters.empty() || clusters.back() != cl) clusters.push_back(cl);
            }
            // (exfat-fuse frees a deleted file's FAT chain: "chain deleted.bin" goes on, as fls reads it,
            // through the clusters after its first that the allocation bitmap marks free.)
            std::string bytes;
            ASSERT_TRUE(fattest::ReadThroughRuns(scan.device.get(), *record, it->second.node, bytes));
            EXPECT_EQ(testsupport::Sha256Hex(bytes), sum);
            // The old file's cluster was written again by the new one.
            if (planted.count(path) && path.find("reused old") == std::string::npos) {
                EXPECT_EQ(sum, planted.at(path));
            }
            EXPECT_EQ(Clusters(it->second.node), clusters);
        }
        EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
        EXPECT_EQ(scan.progress.Last().total, 1u);
        EXPECT_EQ(scan.progress.Last().current, 1u);
    }
}

TEST(ExFatQuickSearch, NamesSizesAndMarksOfTheFixture) {
    Scan scan(exfattest::Images()[0], exfattest::Image("exfat-4k"));
    ASSERT_EQ(scan.Run(), 0u);
    const auto ours = scan.ByPath();
    fattest::ExpectListed(ours, {
        {"smile \xF0\x9F\x98\x80.txt", 100, false},
        {"Docs/\xC3\xBF first in its folder.txt", 700, false},
        {"Docs/after the \xC3\xBF name.txt", 800, false},
        {"Docs/deleted \xF0\x9F\x98\x80 \xC3\xA9moji.txt", 999, true},
        {"Trash Folder/SUB/inner.dat", 800, true},
        {"chain deleted.bin", 4 * 4096, true},
        {"chain kept.bin", 4 * 4096, false},
        {"Deleted Empty.txt", 0, true},
        {"Docs/Nested/Deeper/reused old.txt", 100, true},
        {"reused new.txt", 200, false},
    });
    // The deleted file whose cluster a live file took again is still there next to it, both with the
    // sector of that cluster as ID.
    EXPECT_EQ(ours.at("Docs/Nested/Deeper/reused old.txt").node->GetCurrentNodeID(),
              ours.at("reused new.txt").node->GetCurrentNodeID());
    // Every folder's children name the sector of its first cluster as parent.
    const i64 docs = ours.at("Docs").node->GetCurrentNodeID();
    EXPECT_EQ(ours.at("Docs/after the \xC3\xBF name.txt").node->GetParentNodeID(), docs);
}

// Empty files have no cluster: each gets its own virtual ID, from 0x100000000, again in every search.
TEST(ExFatQuickSearch, EmptyFilesGetDistinctVirtualIds) {
    for (int round = 0; round < 2; ++round) {
        Scan scan(exfattest::Images()[0], exfattest::Image("exfat-4k"));
        ASSERT_EQ(scan.Run(), 0u);
        std::set<i64> ids;
        size_t empties = 0;
        for (const auto& l : scan.builder.List()) {
            if (l.directory || l.size != 0) continue;
            ++empties;
            ids.insert(l.node->GetCurrentNodeID());
        }
        EXPECT_GE(empties, 120u);
        EXPECT_EQ(ids.size(), empties);
        EXPECT_EQ(*ids.begin(), CExFatPartition::kFirstVirtualId);
    }
}

// One unreadable cluster of one folder: that folder's later entries are lost, every other folder is
// still walked, and the finished record comes.
TEST(ExFatQuickSearch, AnUnreadableFolderClusterSkipsThatFolderOnly) {
    const ImageCase& c = exfattest::Images()[0];
    Scan clean(c, exfattest::Image(c.name));
    ASSERT_EQ(clean.Run(), 0u);
    const auto all = clean.ByPath();
    const i64 many = all.at("Many").node->GetCurrentNodeID();

    auto device = testsupport::MemoryDevice::FromFile(exfattest::Image(c.name));
    device->FailSector(many);
    Scan failing(std::move(device));
    ASSERT_EQ(failing.Run(), 0u);
    const auto ours = failing.ByPath();
    size_t inMany = 0;
    for (const auto& [path, listed] : all) {
        if (path.rfind("Many/", 0) == 0) {
            ++inMany;
            EXPECT_EQ(ours.count(path), 0u) << path;
        } else {
            EXPECT_EQ(ours.count(path), 1u) << path;
        }
    }
    EXPECT_GT(inMany, 100u);
    EXPECT_EQ(failing.progress.Last().status, PROGRESS_FINISHED);
    EXPECT_EQ(failing.builder.m_flashes.size(), 1u);

    // The root itself unreadable: nothing is listed, the builder is still flushed and the record comes.
    auto rootless = testsupport::MemoryDevice::FromFile(exfattest::Image(c.name));
    rootless->FailSector(clean.builder.m_searchers.at(SEARCHER_EXFAT));
    Scan noRoot(std::move(rootless));
    EXPECT_EQ(noRoot.Run(), 0u);
    EXPECT_TRUE(noRoot.builder.m_nodes.empty());
    EXPECT_EQ(noRoot.builder.m_flashes.size(), 1u);
    EXPECT_EQ(noRoot.progress.Last().status, PROGRESS_FINISHED);
}

// A folder whose FAT chain loops back into itself is read once per cluster, and a file's looping chain
// ends too.
TEST(ExFatQuickSearch, HandMadeFatLoopsEnd) {
    exfattest::SyntheticVolume v;
    auto folder = v.AddFolder(v.root, u"Looping", 3, false);
    v.SetFat(folder.clusters.back(), folder.clusters.front());
    const auto data = v.Take(2, true);
    v.SetFat(data.back(), data.front());
    exfattest::SetShape file;
    file.name = u"loop.bin";
    file.firstCluster = data.front();
    file.length = 200 * v.ClusterBytes();
    file.noFatChain = false;
    file.deleted = true;
    for (int i = 0; i < 12; ++i) {
        file.name = u"loop " + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u".bin";
        ASSERT_TRUE(v.Add(folder, file));
    }
    Scan scan(v.Device());
    ASSERT_EQ(scan.Run(), 0u);
    EXPECT_EQ(scan.builder.m_nodes.size(), 13u);
    for (const auto& l : scan.builder.List()) {
        if (l.directory) continue;
        EXPECT_LE(Clusters(l.node).size(), 4u) << l.path;
    }
    EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
}

// A stop by the user ends the walk after the folder in hand; what was found is flushed.
TEST(ExFatQuickSearch, AStopKeepsWhatWasFound) {
    Scan scan(exfattest::Images()[0], exfattest::Image("exfat-4k"));
    scan.progress.StopAfter(1);
    EXPECT_EQ(scan.Run(), 0u);
    EXPECT_FALSE(scan.builder.m_nodes.empty());
    EXPECT_LT(scan.builder.m_nodes.size(), exfattest::FlsListing("exfat-4k").size());
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_EXFAT});
    EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
}

// Failed preparations add nothing, flush nothing, and still end with the finished record.
TEST(ExFatQuickSearch, PreparationFailuresStillFinish) {
    struct Case {
        const char* what;
        std::function<std::unique_ptr<IStorageDevice>()> device;
    };
    const Case cases[] = {
        {"not exFAT", [] { return std::make_unique<testsupport::MemoryDevice>(i64{64}, 512); }},
        {"sectors of 8192 bytes", [] { return std::make_unique<testsupport::MemoryDevice>(i64{64}, 8192); }},
        {"boot sector unreadable",
         [] {
             exfattest::SyntheticVolume v;
             auto d = v.Device();
             d->FailSector(0);
             return std::unique_ptr<IStorageDevice>(std::move(d));
         }},
        {"sector size other than the boot sector's",
         [] {
             exfattest::SyntheticVolume v;
             return std::unique_ptr<IStorageDevice>(
                 std::make_unique<testsupport::MemoryDevice>(v.Bytes(), 1024));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scan scan(c.device());
        EXPECT_EQ(scan.Run(), 0u);
        EXPECT_TRUE(scan.builder.m_nodes.empty());
        EXPECT_TRUE(scan.builder.m_flashes.empty());
        EXPECT_EQ(scan.progress.RecordCount(), 1u);
        EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
        EXPECT_EQ(scan.Record(), nullptr);
    }
    // Without a builder nothing is read at all.
    exfattest::SyntheticVolume v;
    auto device = v.Device();
    CExFatQuickSearch bare;
    testsupport::RecordingProgress progress;
    EXPECT_EQ(bare.QuickSearchFiles(device.get(), &progress), 0u);
    EXPECT_EQ(device->ReadCount(), 0);
    EXPECT_EQ(progress.Last().status, PROGRESS_FINISHED);
}

// The root's bitmap, up-case and label entries make no node; a refused folder is released and not walked.
TEST(ExFatQuickSearch, RefusedFoldersAreNotWalked) {
    Scan scan(exfattest::Images()[0], exfattest::Image("exfat-4k"));
    scan.builder.m_refuse = [](IFileNode* n) { return std::string(n->GetFileName()) == "Docs"; };
    ASSERT_EQ(scan.Run(), 0u);
    for (const auto& l : scan.builder.List()) {
        EXPECT_EQ(l.path.rfind("Docs", 0), std::string::npos) << l.path;
        EXPECT_EQ(l.path.find("BRELVOX"), std::string::npos) << l.path;
    }
}

// Every hostile copy ends: no crash, no hang, a finished record; what is listed stays inside what the
// clean image holds, and every listed file can be read through its runs without harm.
TEST(ExFatQuickSearch, HostileImagesEndCleanly) {
    Scan clean(exfattest::Images()[0], exfattest::Image("exfat-4k"));
    ASSERT_EQ(clean.Run(), 0u);
    const auto all = clean.ByPath();
    struct Expect {
        size_t minimum;  // nodes at least
        bool lost;       // fewer nodes than the clean image
    };
    const size_t n = all.size();
    const std::map<std::string, Expect> expected = {
        {"bad-set-checksum", {n, false}},
        {"bad-deleted-set-checksum", {n, false}},
        {"file-chain-loops", {n, false}},
        // Each cluster is read once: a loop back into the chain, or a chain that runs into another
        // folder's, ends the folder there.
        {"folder-chain-loops", {150, true}},
        {"folder-chains-meet", {150, true}},
        {"cluster-count-below-fat", {n, false}},
        {"length-past-heap", {n, false}},
        // A refused entry costs its own set only: the folder's later sets stay.
        {"length-past-device", {n - 1, true}},
        {"secondary-count-1", {n - 1, true}},
        {"secondary-count-19", {n - 1, true}},
        {"impossible-timestamp", {n - 1, true}},
        {"boot-sector-zeroed", {0, true}},
    };
    testsupport::TempDir dir;
    for (const auto& [caseName, rows] : exfattest::HostilePatches()) {
        SCOPED_TRACE(caseName);
        ASSERT_EQ(expected.count(caseName), 1u) << "no expectation for this case";
        const Expect& want = expected.at(caseName);
        Scan scan(exfattest::Images()[0], exfattest::PatchedImage(caseName, dir.path()));
        EXPECT_EQ(scan.Run(), 0u);
        EXPECT_EQ(scan.progress.Last().status, PROGRESS_FINISHED);
        const auto ours = scan.ByPath();
        EXPECT_GE(ours.size(), want.minimum);
        if (want.lost) {
            EXPECT_LT(ours.size(), n);
        }
        auto record = scan.Record();
        for (const auto& [path, listed] : ours) {
            // Nothing is made up: a chain that meets another folder may move entries, never invent them.
            const std::string name = path.substr(path.rfind('/') + 1);
            bool known = false;
            for (const auto& [p, l] : all) known = known || p.substr(p.rfind('/') + 1) == name;
            EXPECT_TRUE(known) << path;
            std::string bytes;
            if (!listed.directory && record) fattest::ReadThroughRuns(scan.device.get(), *record, listed.node, bytes);
        }
    }
}

// Entries that are no part of a file set, before the files of the root: a volume GUID and TexFAT
// padding (which the format allows in the root), an unknown primary type, a stray vendor extension,
// a deleted entry of an unknown type, a file entry with a bad secondary count, a stream entry that
// fails its test. Each is passed over (a set it interrupts is lost, nothing more) and the files after
// it are listed; a set that counts a vendor extension among its secondaries is listed too. An entry of
// type 0 ends the folder.
TEST(ExFatQuickSearch, EntriesThatAreNoFileSetArePassedOver) {
    auto entry = [](u8 type, std::initializer_list<std::pair<size_t, u8>> bytes = {}) {
        std::vector<u8> out(exfat::entry::kSize, 0);
        out[0] = type;
        for (const auto& [at, value] : bytes) out[at] = value;
        return out;
    };
    exfattest::SetShape first;
    first.name = u"first.txt";
    struct Case {
        const char* what;
        std::vector<u8> entries;
    };
    std::vector<u8> badCount = exfattest::MakeSet(first);
    badCount[exfat::file::kSecondaryCount] = 1;
    std::vector<u8> badStream = exfattest::MakeSet(first);
    // First cluster 1 is no cluster (reserved bytes would refuse nothing).
    for (size_t i = 0; i < 4; ++i) badStream[exfat::entry::kSize + exfat::stream::kFirstCluster + i] = i == 0 ? 1 : 0;
    std::vector<u8> withExtension = exfattest::MakeSet(first);
    withExtension[exfat::file::kSecondaryCount] += 1;
    const std::vector<u8> extension = entry(0xE0);
    withExtension.insert(withExtension.end(), extension.begin(), extension.end());
    const std::vector<Case> cases = {
        {"a volume GUID", entry(0xA0, {{1, 0}, {4, 0x11}, {5, 0x22}})},
        {"TexFAT padding", entry(0xA1)},
        {"an unknown primary type", entry(0xB7)},
        {"a stray vendor extension", entry(0xE0)},
        {"a deleted entry of an unknown type", entry(0x27)},
        {"a file entry with a bad secondary count", badCount},
        {"a stream entry that fails its test", badStream},
        {"a set with a vendor extension", withExtension},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        exfattest::SyntheticVolume v(512, 4);  // a root of 64 entries
        ASSERT_TRUE(v.AddEntries(v.root, c.entries));
        for (const char16_t* name : {u"a.txt", u"b.txt", u"c.txt"}) {
            exfattest::SetShape shape;
            shape.name = name;
            ASSERT_TRUE(v.Add(v.root, shape));
        }
        // Past the end of the folder: never listed.
        ASSERT_TRUE(v.AddEntries(v.root, entry(0x00)));
        exfattest::SetShape after;
        after.name = u"after the end.txt";
        ASSERT_TRUE(v.Add(v.root, after));
        Scan scan(v.Device());
        ASSERT_EQ(scan.Run(), 0u);
        const auto ours = scan.ByPath();
        EXPECT_EQ(ours.count("a.txt") + ours.count("b.txt") + ours.count("c.txt"), 3u);
        EXPECT_EQ(ours.count("after the end.txt"), 0u);
        const bool whole = std::string(c.what) == "a set with a vendor extension";
        EXPECT_EQ(ours.count("first.txt"), whole ? 1u : 0u);
        EXPECT_EQ(ours.size(), whole ? 4u : 3u);
    }
}

TEST(ExFatQuickSearch, AClusterCountBelowTheFatCapacityIsRaised) {
    testsupport::TempDir dir;
    Scan scan(exfattest::Images()[0], exfattest::PatchedImage("cluster-count-below-fat", dir.path()));
    ASSERT_EQ(scan.Run(), 0u);
    EXPECT_EQ(scan.builder.m_nodes.size(), exfattest::FlsListing("exfat-4k").size());
    Scan clean(exfattest::Images()[0], exfattest::Image("exfat-4k"));
    ASSERT_EQ(clean.Run(), 0u);
    EXPECT_EQ(scan.searcher->Partition().GetClusterBound(), clean.searcher->Partition().GetClusterBound());
}

// A folder without a FAT chain lies in consecutive clusters whose FAT entries may be free (exfat-fuse and
// other writers leave them so): all its clusters are read, live or deleted.
TEST(ExFatQuickSearch, AFolderWithoutAFatChainIsReadInConsecutiveClusters) {
    exfattest::SyntheticVolume v;
    auto live = v.AddFolder(v.root, u"Contiguous", 3, true);
    auto gone = v.AddFolder(v.root, u"Deleted contiguous", 3, true, true);
    for (int i = 0; i < 16; ++i) {
        exfattest::SetShape shape;
        shape.name = u"entry " + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u".txt";
        ASSERT_TRUE(v.Add(live, shape));
        ASSERT_TRUE(v.Add(gone, shape));
    }
    ASSERT_EQ(live.used, 3 * v.ClusterBytes());
    auto device = v.Device();
    auto* memory = device.get();
    Scan scan(std::move(device));
    ASSERT_EQ(scan.Run(), 0u);
    const auto ours = scan.ByPath();
    EXPECT_EQ(ours.size(), 34u);
    EXPECT_EQ(ours.count("Contiguous/entry p.txt"), 1u);
    ASSERT_EQ(ours.count("Deleted contiguous/entry p.txt"), 1u);
    EXPECT_TRUE(ours.at("Deleted contiguous/entry p.txt").deleted);
    // Boot sector, FAT, root, and each folder's three clusters in one read.
    EXPECT_EQ(memory->ReadCount(), 5);

    // The third cluster of a folder unreadable: the sets of its first two clusters stay.
    auto failing = v.Device();
    failing->FailSector(v.SectorOf(live.clusters[2]));
    Scan partial(std::move(failing));
    ASSERT_EQ(partial.Run(), 0u);
    const auto kept = partial.ByPath();
    EXPECT_EQ(kept.count("Contiguous/entry j.txt"), 1u);
    EXPECT_EQ(kept.count("Contiguous/entry l.txt"), 0u);
    EXPECT_EQ(kept.count("Deleted contiguous/entry p.txt"), 1u);
}

// A folder written between the clusters of its files is read in one device read; the clusters in between
// are not its own and stay readable for the folder that owns them.
TEST(ExFatQuickSearch, AFolderBetweenOtherClustersIsReadAtOnce) {
    exfattest::SyntheticVolume v;
    exfattest::SyntheticVolume::Folder spread;
    const auto span = v.Take(5, false);
    spread.clusters = {span[0], span[2], span[4]};
    for (size_t i = 0; i < spread.clusters.size(); ++i)
        v.SetFat(spread.clusters[i], i + 1 < spread.clusters.size() ? spread.clusters[i + 1] : 0xFFFFFFFF);
    exfattest::SetShape folder;
    folder.name = u"Spread";
    folder.attributes = 0x10;
    folder.firstCluster = span[0];
    folder.length = 3 * v.ClusterBytes();
    folder.noFatChain = false;
    ASSERT_TRUE(v.Add(v.root, folder));
    exfattest::SyntheticVolume::Folder between{{span[1]}, 0};
    folder.name = u"Between";
    folder.firstCluster = span[1];
    folder.length = v.ClusterBytes();
    ASSERT_TRUE(v.Add(v.root, folder));
    for (int i = 0; i < 16; ++i) {
        exfattest::SetShape shape;
        shape.name = u"entry " + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u".txt";
        ASSERT_TRUE(v.Add(spread, shape));
    }
    exfattest::SetShape inside;
    inside.name = u"inside.txt";
    ASSERT_TRUE(v.Add(between, inside));
    auto device = v.Device();
    auto* memory = device.get();
    Scan scan(std::move(device));
    ASSERT_EQ(scan.Run(), 0u);
    const auto ours = scan.ByPath();
    EXPECT_EQ(ours.count("Spread/entry p.txt"), 1u);
    EXPECT_EQ(ours.count("Between/inside.txt"), 1u);
    EXPECT_EQ(ours.size(), 19u);
    // Boot sector, FAT, root, Spread at once, Between.
    EXPECT_EQ(memory->ReadCount(), 5);
}
