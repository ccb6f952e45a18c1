// The deep NTFS search over the three-volume disk and its copies, fed block by block as the complete
// controller feeds it: the partitions found (with mmls's starts and fsstat's cluster sizes), the
// evidence of each, the trees handed to a recording builder against fls and icat, the lost folder,
// records and index blocks across a block edge, and log pages written into a volume's $LogFile.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <tuple>

#include "NtfsDiskSupport.h"
#include "NtfsLogWriter.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "support/MemoryDevice.h"
#include "support/Sha256.h"

namespace {

using namespace ntfsdeep;
using ntfsdisk::DeepScan;

std::unique_ptr<testsupport::MemoryDevice> CopyDevice(const std::string& caseName) {
    return std::make_unique<testsupport::MemoryDevice>(ntfsdisk::CopyBytes(caseName), 512, STORAGE_DEVICE_DISK);
}

std::string ReadAll(IStorageDevice* device, CNTFSFileNode* node, const CSearchedNTFSPartitionInfo& partition) {
    return ntfstest::ReadAll(device, node, partition.m_cluster0Sector, partition.m_sectorsPerCluster);
}

// The tree of partition k equals fls's whole listing of volume `volume` (what the searcher hands over,
// existing and deleted): paths, deleted marks, folders, record numbers and icat's sizes.
void ExpectTreeEqualsFls(const std::map<std::string, ntfsdisk::Listed>& tree, int volume) {
    SCOPED_TRACE("volume " + std::to_string(volume));
    const auto sums = ntfsdisk::Icat(volume);
    std::set<std::string> expected, got;
    for (const auto& e : ntfsdisk::Fls(volume)) {
        expected.insert(e.path);
        auto it = tree.find(e.path);
        if (it == tree.end()) continue;
        const ntfsdisk::Listed& l = it->second;
        EXPECT_EQ(l.deleted, e.deleted) << e.path;
        EXPECT_EQ(l.directory, e.directory) << e.path;
        EXPECT_EQ(l.node->GetCurrentNodeID(), e.inode) << e.path;
        if (sums.count(e.path)) {
            EXPECT_EQ(l.size, sums.at(e.path).size) << e.path;
        }
    }
    for (const auto& [path, l] : tree) {
        if (path.rfind("<lost>/", 0) != 0) got.insert(path);
    }
    EXPECT_EQ(got, expected);
}

class NtfsDeepDisk : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scan = new DeepScan(CopyDevice("mbr-zeroed"));
        scan->Run();
    }
    static void TearDownTestSuite() {
        delete scan;
        scan = nullptr;
    }
    static DeepScan* scan;
};
DeepScan* NtfsDeepDisk::scan = nullptr;

// Three volumes at mmls's starts with fsstat's cluster sizes and sector totals (the boot sector's), each
// confirmed by both boot sectors and by its $MFT/$MFTMirr pair, the $AttrDef and $UpCase terms
// counted, scores of at least 70; the third is kept although no folder index confirms it.
TEST_F(NtfsDeepDisk, ThreePartitionsWithTheirGeometryAndEvidence) {
    const auto partitions = scan->Partitions();
    const auto mmls = ntfsdisk::MmlsPartitions();
    ASSERT_EQ(partitions.size(), 3u);
    ASSERT_EQ(mmls.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const CSearchedNTFSPartitionInfo& p = partitions[k];
        const ntfsdisk::Fsstat fs = ntfsdisk::FsstatOf(int(k) + 1);
        EXPECT_EQ(p.m_fileSystemType, 3u);
        EXPECT_EQ(p.m_cluster0Sector, mmls[k].first);
        EXPECT_EQ(p.m_partitionStartSector, mmls[k].first);
        EXPECT_EQ(p.m_sectorsPerCluster, fs.clusterBytes / 512);
        EXPECT_EQ(p.m_totalSectors, fs.sectors) << "not cut to whole clusters";
        EXPECT_EQ(p.m_partitionIndex, i32(k));
        const u32 flags = p.GetPartitionBuildFromFlags();
        EXPECT_EQ(flags & (kFlagBoot | kFlagBootCopy | kFlagMFTPair | kFlagMFTGroup), kFlagBoot | kFlagBootCopy | kFlagMFTPair);
        EXPECT_EQ(p.m_keep, 1u);
        EXPECT_GE(p.m_attrDefMatches, kAttrDefThreshold);
        EXPECT_GE(p.m_upCaseMatches, kUpCaseThreshold) << "mkntfs's $UpCase agrees with ours in 99 % of its entries";
        EXPECT_EQ(p.m_logFileMatches, 0) << "ntfs-3g leaves the log 0xFF";
        EXPECT_GE(p.m_score, 70);
        EXPECT_EQ(p.m_score, 90);
    }
    // Only Alpha has a folder with an index block ("Many").
    EXPECT_TRUE(partitions[0].GetPartitionBuildFromFlags() & kFlagIndex);
    EXPECT_GE(partitions[0].m_matchCount2, 1);
    EXPECT_EQ(partitions[2].m_matchCount2, 0);
}

TEST_F(NtfsDeepDisk, EachTreeEqualsItsFlsListing) {
    const auto trees = ntfsdisk::ByPartition(scan->builder);
    for (int k = 0; k < 3; ++k) ExpectTreeEqualsFls(trees.count(k) ? trees.at(k) : std::map<std::string, ntfsdisk::Listed>{}, k + 1);
    EXPECT_EQ(scan->builder.m_flashes, std::vector<u32>{SEARCHER_NTFS});
    EXPECT_EQ(scan->builder.m_searchers.at(SEARCHER_NTFS), 5);
}

// Orphan lost the record of its parent: it comes back as a lost folder (its parent number is 25 or
// more) with its files and sub-folder, their bytes as icat read them before.
TEST_F(NtfsDeepDisk, TheFolderWhoseParentRecordIsGoneComesBackLost) {
    const auto tree = ntfsdisk::ByPartition(scan->builder).at(0);
    const auto partitions = scan->Partitions();
    for (const auto& [path, sum] : ntfsdisk::Orphans()) {
        const std::string lost = "<lost>/" + path.substr(std::string("Alpha/Keep/Parent/").size());
        SCOPED_TRACE(lost);
        auto it = tree.find(lost);
        ASSERT_NE(it, tree.end());
        auto* node = dynamic_cast<CNTFSFileNode*>(it->second.node);
        EXPECT_EQ(testsupport::Sha256Hex(ReadAll(scan->device.get(), node, partitions[0])), sum.sha256);
    }
    EXPECT_TRUE(tree.count("<lost>/Orphan") && tree.at("<lost>/Orphan").directory);
}

// Resident, sparse (zeros), compressed-folder and fragmented files read back icat's bytes through the
// runs the deep search built (relative to each volume's cluster 0).
TEST_F(NtfsDeepDisk, FilesReadBackIcatsBytes) {
    const auto trees = ntfsdisk::ByPartition(scan->builder);
    const auto partitions = scan->Partitions();
    const struct {
        int volume;
        const char* path;
    } files[] = {{1, "Alpha/tiny note.txt"}, {1, "Alpha/sparse.bin"}, {1, "Alpha/frag.bin"},
                 {1, "Alpha/Docs/Nested/Deeper/deep.bin"}, {1, "Alpha/Deleted Report.txt"},
                 {2, "Bravo/photos/2024/picture.raw"}, {2, "Bravo/old.txt"}, {3, "Charlie/data/d1.bin"},
                 {3, "Charlie/removed.bin"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.path);
        const auto& tree = trees.at(f.volume - 1);
        auto it = tree.find(f.path);
        ASSERT_NE(it, tree.end());
        auto* node = dynamic_cast<CNTFSFileNode*>(it->second.node);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->GetBelongedPartition(), u16(f.volume - 1));
        EXPECT_EQ(testsupport::Sha256Hex(ReadAll(scan->device.get(), node, partitions[size_t(f.volume - 1)])),
                  ntfsdisk::Icat(f.volume).at(f.path).sha256);
    }
    // The compressed file is handed over compressed, for the compressed reader of the copy-out.
    auto it = trees.at(0).find("Alpha/Compressed/packed words.txt");
    ASSERT_NE(it, trees.at(0).end());
    EXPECT_TRUE(it->second.node->IsCompressed());
}

// A wiped boot sector is found through its copy (Charlie, the third candidate, kept by its copy and
// its $MFT/$MFTMirr pair); with both wiped, through the pair alone (Bravo).
TEST(NtfsDeepDiskCopies, WipedBootSectors) {
    const auto mmls = ntfsdisk::MmlsPartitions();
    {
        DeepScan one(CopyDevice("boot-zeroed"));
        one.Run();
        const auto partitions = one.Partitions();
        ASSERT_EQ(partitions.size(), 3u);
        const auto& charlie = partitions[2];
        EXPECT_EQ(charlie.m_cluster0Sector, mmls[2].first);
        EXPECT_EQ(charlie.GetPartitionBuildFromFlags() & (kFlagBoot | kFlagBootCopy | kFlagMFTPair), kFlagBootCopy | kFlagMFTPair);
        // Its $MFT group came first and set the size from $Bitmap (whose bytes round the clusters up).
        EXPECT_EQ(charlie.m_totalSectors, charlie.m_adjustedSectors);
        EXPECT_GE(charlie.m_totalSectors, ntfsdisk::FsstatOf(3).clusters * 2);
        EXPECT_LT(charlie.m_totalSectors, (ntfsdisk::FsstatOf(3).clusters + 64) * 2);
        ExpectTreeEqualsFls(ntfsdisk::ByPartition(one.builder).at(2), 3);
    }
    {
        DeepScan both(CopyDevice("boots-zeroed"));
        both.Run();
        const auto partitions = both.Partitions();
        ASSERT_EQ(partitions.size(), 3u);
        const auto& bravo = partitions[1];
        const ntfsdisk::Fsstat fs = ntfsdisk::FsstatOf(2);
        EXPECT_EQ(bravo.m_cluster0Sector, mmls[1].first);
        EXPECT_EQ(bravo.m_sectorsPerCluster, fs.clusterBytes / 512);
        EXPECT_EQ(bravo.GetPartitionBuildFromFlags(), kFlagMFTPair);
        // The size comes from $Bitmap: whole clusters, at least the volume's (the bitmap's bytes round up).
        EXPECT_EQ(bravo.m_totalSectors % bravo.m_sectorsPerCluster, 0);
        EXPECT_GE(bravo.m_totalSectors, fs.clusters * i64(bravo.m_sectorsPerCluster));
        EXPECT_LT(bravo.m_totalSectors, (fs.clusters + 64) * i64(bravo.m_sectorsPerCluster));
        EXPECT_EQ(bravo.m_adjustedSectors, bravo.m_totalSectors);
        ExpectTreeEqualsFls(ntfsdisk::ByPartition(both.builder).at(1), 2);
    }
}

// A FILE record whose second half starts the next block, and an index block cut by a block edge, are
// analysed once, at their first sector; the trees do not change.
TEST(NtfsDeepDiskCopies, RecordsAcrossABlockEdge) {
    for (const char* name : {"file-across-block-edge", "index-across-block-edge"}) {
        SCOPED_TRACE(name);
        const i64 shift = ntfsdisk::CopyShift(name);
        ASSERT_GT(shift, 0);
        DeepScan scan(CopyDevice(name));
        testsupport::DeepBlockFeeder feeder(*scan.searcher, *scan.device, &scan.builder);
        feeder.Prepare();
        feeder.FeedAll();
        // The index blocks seen (the end step empties their set).
        const i64 block = 8192;
        i64 cut = 0;
        for (const CIndexRecordInfo& info : scan.searcher->GetIndexRecords()) cut += info.sector % block > block - 8;
        feeder.End();
        const auto partitions = scan.Partitions();
        ASSERT_EQ(partitions.size(), 3u);
        EXPECT_EQ(partitions[0].m_cluster0Sector, ntfsdisk::MmlsPartitions()[0].first + shift);
        EXPECT_TRUE(partitions[0].GetPartitionBuildFromFlags() & kFlagIndex);
        ExpectTreeEqualsFls(ntfsdisk::ByPartition(scan.builder).at(0), 1);
        const auto& positions = scan.searcher->GetPositions();
        auto holds = [&](i64 sector) {
            i64 times = 0;
            for (const auto& p : positions) {
                const i64 k = sector - p.GetFileRecordStartSector();
                times += k >= 0 && k % 2 == 0 && k / 2 < p.GetFileRecordCount();
            }
            return times;
        };
        if (std::string(name) == "file-across-block-edge") {
            // deep.bin's record: its first sector ends a block.
            const auto tree = ntfsdisk::ByPartition(scan.builder).at(0);
            const i64 sector = dynamic_cast<CFileNode*>(tree.at("Alpha/Docs/Nested/Deeper/deep.bin").node)->GetMetadataStartPosition();
            EXPECT_EQ((sector + 1) % block, 0);
            EXPECT_EQ(holds(sector), 1);
        } else {
            EXPECT_GE(cut, 1) << "the index block of Many starts 4 sectors before a block edge";
        }
    }
}

// The scan keeps the sectors of the FILE records it found valid, so that the tree build walks their
// attributes without checking them again: exactly the sectors where a 1024-byte record validates, the
// record cut by a block edge included; the trees built from them equal fls's.
TEST(NtfsDeepDiskCopies, TheScanKeepsExactlyTheValidRecordSectors) {
    const std::string name = "file-across-block-edge";
    DeepScan scan(CopyDevice(name));
    testsupport::DeepBlockFeeder feeder(*scan.searcher, *scan.device, &scan.builder);
    feeder.Prepare();
    feeder.FeedAll();
    const CValidFileRecordSectors& valid = scan.searcher->GetValidFileRecordSectors();
    const std::vector<u8> bytes = ntfsdisk::CopyBytes(name);
    i64 records = 0, edge = 0;
    for (size_t at = 0; at + 1024 <= bytes.size(); at += 512) {
        const i64 sector = i64(at / 512);
        bool ok = false;
        if (ByteReader(bytes.data() + at, 4).Equals(0, "FILE")) {
            std::vector<u8> record(bytes.begin() + i64(at), bytes.begin() + i64(at) + 1024);
            ok = CNTFSFileRecord(record.data(), 1024, 0).IsValid();
        }
        records += ok;
        edge += ok && (sector + 1) % 8192 == 0;
        EXPECT_EQ(valid.Contains(sector), ok) << sector;
    }
    EXPECT_GT(records, 300);
    EXPECT_EQ(edge, 1) << "the record whose first sector ends a block";
    EXPECT_LT(valid.RunCount(), size_t(records / 4));
    feeder.End();
    ExpectTreeEqualsFls(ntfsdisk::ByPartition(scan.builder).at(0), 1);
}

// The tree build takes what the scan built of the records instead of reading them again: the nodes
// handed over, in their order, with every field and extent, equal those of a build that reads and
// checks every record again (resident, sparse, compressed and fragmented files, one with an attribute
// list, deleted ones, the lost folder, on the disk and on the copy whose record crosses a block edge).
TEST(NtfsDeepDiskCopies, TheScansRecordsBuildWhatTheRecordsReadAgainBuild) {
    auto nodes = [](const std::string& name, bool keep) {
        DeepScan scan(CopyDevice(name));
        scan.searcher->SetKeepScanRecords(keep);
        testsupport::DeepBlockFeeder feeder(*scan.searcher, *scan.device, &scan.builder);
        feeder.Prepare();
        feeder.FeedAll();
        const size_t kept = scan.searcher->GetPrebuiltRecords().Size();
        feeder.End();
        std::vector<std::string> out;
        for (IFileNode* n : scan.builder.m_nodes) {
            auto* node = dynamic_cast<CNTFSFileNode*>(n);
            auto* p = dynamic_cast<CNTFSFileProperties*>(node->GetFileProperties());
            std::string line = std::to_string(node->GetBelongedPartition()) + " " + std::to_string(node->GetCurrentNodeID()) +
                               " " + std::to_string(node->GetParentNodeID()) + " " + node->GetFileName() + " " +
                               std::to_string(node->GetFileSize()) + " " + std::to_string(node->GetAttribute()) + " " +
                               std::to_string(p->GetState()) + " " + std::to_string(node->GetMetadataStartPosition()) + " " +
                               std::to_string(p->GetCreationTime()) + " " + std::to_string(p->GetModificationTime()) + " " +
                               std::to_string(p->GetFileRecordIndex()) + " " +
                               std::to_string(p->GetExtendFileRecordInfoList() ? p->GetExtendFileRecordInfoList()->size() : 0);
            if (IDataRunList* runs = p->GetDataRunList()) {
                line += " offset " + std::to_string(runs->GetOffset());
                for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext())
                    line += " " + std::to_string(run->start) + "+" + std::to_string(run->length);
                runs->Release();
            }
            out.push_back(line);
        }
        return std::make_pair(out, kept);
    };
    for (const char* name : {"mbr-zeroed", "file-across-block-edge"}) {
        SCOPED_TRACE(name);
        const auto [read, none] = nodes(name, false);
        const auto [taken, kept] = nodes(name, true);
        EXPECT_GT(read.size(), 300u);
        EXPECT_GT(kept, 300u);
        EXPECT_EQ(taken, read);
    }
}

// What the scan builds of each record: entries of files with resident data and of folders; files whose
// data lies in clusters (sized by the partition's clusters), with an attribute list, or of size 0 (the
// log may tell their runs) are read by the tree build; system records make no entry.
TEST(NtfsDeepDiskCopies, TheScanBuildsOnlyWhatEveryPartitionBuildsAlike) {
    DeepScan scan(CopyDevice("mbr-zeroed"));
    testsupport::DeepBlockFeeder feeder(*scan.searcher, *scan.device, &scan.builder);
    feeder.Prepare();
    feeder.FeedAll();
    std::map<i64, CNTFSPrebuiltRecords::Kind> kinds;
    const CNTFSPrebuiltRecords& store = scan.searcher->GetPrebuiltRecords();
    for (i64 s = 0; s < scan.device->GetTotalSectors(); ++s) {
        if (const auto* r = store.Find(s)) kinds[s] = r->kind;
    }
    feeder.End();
    const auto tree = ntfsdisk::ByPartition(scan.builder).at(0);
    std::map<CNTFSPrebuiltRecords::Kind, int> seen;
    for (const auto& [path, listed] : tree) {
        auto* node = dynamic_cast<CNTFSFileNode*>(listed.node);
        auto* p = dynamic_cast<CNTFSFileProperties*>(node->GetFileProperties());
        const i64 sector = node->GetMetadataStartPosition();
        ASSERT_TRUE(kinds.count(sector)) << path;
        const auto* data = p->GetCompressedDataRunList();
        const bool clusters = data && data->GetDataOffset() == 0;
        CNTFSPrebuiltRecords::Kind expected = CNTFSPrebuiltRecords::kBuilt;
        if (clusters || p->GetExtendFileRecordInfoList() || (!listed.directory && p->GetFileSize() == 0))
            expected = CNTFSPrebuiltRecords::kNotBuilt;
        EXPECT_EQ(kinds.at(sector), expected) << path;
        ++seen[kinds.at(sector)];
    }
    EXPECT_GE(seen[CNTFSPrebuiltRecords::kBuilt], 40);
    EXPECT_GE(seen[CNTFSPrebuiltRecords::kNotBuilt], 5);
    const i64 empty = dynamic_cast<CFileNode*>(tree.at("Alpha/Deleted Empty.txt").node)->GetMetadataStartPosition();
    EXPECT_EQ(kinds.at(empty), CNTFSPrebuiltRecords::kNotBuilt) << "a deleted file of size 0";
    // The volume's first records ($MFT, $MFTMirr, ...) make no entry.
    const i64 mft = scan.Partitions()[0].m_mftSector;
    ASSERT_TRUE(kinds.count(mft));
    EXPECT_EQ(kinds.at(mft), CNTFSPrebuiltRecords::kNothing);
}

// The store of the scan's records covers only blocks the scan analysed one after the other from sector
// 0; a record added out of order leaves it unused (the tree build then reads every block).
TEST(NtfsDeepDiskCopies, TheScansRecordsCoverOnlyWhatWasScannedInOrder) {
    CNTFSPrebuiltRecords store;
    store.Scanned(0, 100);
    store.Scanned(100, 50);
    store.Scanned(300, 10);
    const std::tuple<i64, i64, bool> cases[] = {{0, 150, true}, {0, 151, false}, {140, 150, true}, {300, 310, false}, {-1, 10, false}};
    for (const auto& [first, end, covered] : cases) EXPECT_EQ(store.Covers(first, end), covered) << first << " " << end;
    const std::vector<u8> bytes = ntfsdisk::CopyBytes("mbr-zeroed");
    std::vector<std::vector<u8>> records;
    std::vector<i64> sectors;
    for (size_t at = 0; at + 1024 <= bytes.size() && records.size() < 2; at += 512) {
        std::vector<u8> copy(bytes.begin() + i64(at), bytes.begin() + i64(at) + 1024);
        if (ByteReader(copy.data(), 4).Equals(0, "FILE") && CNTFSFileRecord(copy.data(), 1024, 0).IsValid()) {
            records.push_back(copy);
            sectors.push_back(i64(at / 512));
        }
    }
    ASSERT_EQ(records.size(), 2u);
    store.Scanned(150, 1u << 20);
    CNTFSFileRecord first(records[0].data(), 1024, 0), second(records[1].data(), 1024, 0);
    store.Add(first, sectors[0], CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(first));
    store.Add(second, sectors[1], CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(second));
    EXPECT_EQ(store.Size(), 2u);
    EXPECT_TRUE(store.Covers(0, sectors[1] + 2));
    store.Add(first, sectors[0], CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(first));
    EXPECT_EQ(store.Size(), 0u);
    EXPECT_FALSE(store.Covers(0, 10));
    store.Reset();
    EXPECT_FALSE(store.Covers(0, 10));
    store.Scanned(0, 10);
    EXPECT_TRUE(store.Covers(0, 10));

    // Many records (the store keeps them in blocks): each found at its sector, ranges across block
    // edges as a count of the sectors, the order still enforced.
    store.Reset();
    const u32 index = CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(second);
    const i64 count = 20000;
    for (i64 k = 0; k < count; ++k) store.Add(second, 10 + 3 * k, index);
    ASSERT_EQ(store.Size(), size_t(count));
    for (const i64 k : {i64(0), i64(8191), i64(8192), i64(8193), i64(16384), count - 1}) {
        const auto* r = store.Find(10 + 3 * k);
        ASSERT_NE(r, nullptr) << k;
        EXPECT_EQ(r->sector, 10 + 3 * k);
        EXPECT_EQ(&store.At(size_t(k)), r);
        EXPECT_EQ(store.Find(11 + 3 * k), nullptr) << k;
    }
    const std::pair<i64, i64> ranges[] = {{0, 10}, {0, 11}, {10, 10 + 3 * 8192}, {11, 10 + 3 * 8193 + 1},
                                          {10 + 3 * 8191, 10 + 3 * 16385}, {50000, 1 << 30}, {1 << 30, 1 << 31}};
    for (const auto& [first, end] : ranges) {
        const auto [begin, stop] = store.Range(first, end);
        size_t inside = 0;
        for (i64 k = 0; k < count; ++k) inside += (10 + 3 * k >= first && 10 + 3 * k < end);
        EXPECT_EQ(stop - begin, inside) << first << " " << end;
        if (begin < stop) {
            EXPECT_GE(store.At(begin).sector, first);
            EXPECT_LT(store.At(stop - 1).sector, end);
        }
    }
    store.Add(second, 10 + 3 * (count - 1), index);
    EXPECT_EQ(store.Size(), 0u) << "a record at a sector already kept";
}

// The deep scan's cache hands its current block to the searcher where it lies: the partitions, their
// evidence and the trees equal those of blocks read into the searcher's own buffer, every block was
// analysed in place, and the cache's bytes stay the disk's (records and index blocks are unprotected in
// copies, never in the block that the other searchers read). The copies put a FILE record and an index
// block across a block edge.
TEST(NtfsDeepDiskCopies, TheCachesBlockIsAnalysedInPlaceAndLeftAsItWas) {
    for (const char* name : {"file-across-block-edge", "index-across-block-edge"}) {
        SCOPED_TRACE(name);
        const std::vector<u8> bytes = ntfsdisk::CopyBytes(name);
        DeepScan plain(CopyDevice(name));
        plain.Run();

        testsupport::MemoryDevice memory(bytes, 512, STORAGE_DEVICE_DISK);
        CStorageDeviceWithCache cache(&memory);
        const i64 block = 8192;
        ASSERT_EQ(cache.SetBlockSize(u32(block)), 1);
        cache.BeginCache();
        fattest::RecordingTreeBuilder builder;
        CNTFSSearchController searcher;
        testsupport::DeepBlockFeeder feeder(searcher, cache, &builder);
        feeder.SetBlockSectors(block);
        ASSERT_EQ(feeder.Prepare(), 1);
        const i64 total = cache.GetTotalSectors();
        i64 blocks = 0, changed = 0;
        for (i64 start = 0; start < total; start += block, ++blocks) {
            ASSERT_EQ(cache.SetCurCacheBlock(start / block), 1);
            const i64 count = std::min(block, total - start);
            feeder.Feed(start, count);
            const u8* inPlace = cache.CurrentBlockSectors(start, count);
            ASSERT_NE(inPlace, nullptr);
            changed += std::memcmp(inPlace, bytes.data() + start * 512, size_t(count) * 512) != 0;
        }
        EXPECT_EQ(changed, 0);
        EXPECT_GE(blocks, 12);
        EXPECT_EQ(searcher.BlocksAnalysedInPlace(), u64(blocks));
        EXPECT_EQ(searcher.AnalyzedBlocks(), u64(blocks));
        EXPECT_EQ(searcher.GetPositions().size(), plain.searcher->GetPositions().size());
        feeder.End();
        cache.EndCache();

        std::vector<std::tuple<i64, i64, u32, i64, i64, i64, i64>> got, expected;
        for (const auto& c : searcher.GetPartitionInfoBuilder().Candidates())
            got.emplace_back(c->m_cluster0Sector, c->m_totalSectors, c->GetPartitionBuildFromFlags(), c->m_score,
                             c->m_attrDefMatches, c->m_upCaseMatches, c->m_matchCount2);
        for (const CSearchedNTFSPartitionInfo& c : plain.Partitions())
            expected.emplace_back(c.m_cluster0Sector, c.m_totalSectors, c.GetPartitionBuildFromFlags(), c.m_score,
                                  c.m_attrDefMatches, c.m_upCaseMatches, c.m_matchCount2);
        EXPECT_EQ(got.size(), 3u);
        EXPECT_EQ(got, expected);
        const auto trees = ntfsdisk::ByPartition(builder), plainTrees = ntfsdisk::ByPartition(plain.builder);
        ASSERT_EQ(trees.size(), plainTrees.size());
        for (const auto& [k, tree] : plainTrees) {
            ASSERT_TRUE(trees.count(k)) << k;
            using Row = std::tuple<std::string, i64, bool, bool, i64>;
            std::vector<Row> a, e;
            for (const auto& [path, l] : trees.at(k)) a.emplace_back(path, l.size, l.deleted, l.directory, l.node->GetCurrentNodeID());
            for (const auto& [path, l] : tree) e.emplace_back(path, l.size, l.deleted, l.directory, l.node->GetCurrentNodeID());
            EXPECT_EQ(a, e) << "partition " << k;
            EXPECT_GT(a.size(), 5u);
        }
        ExpectTreeEqualsFls(trees.at(0), 1);
    }
}

// Restart and record pages written into Alpha's $LogFile: the pair of restart pages 8 sectors apart
// gives flags 64 and 128, the record pages the $LogFile match count; a torn record page counts
// nothing; a page cut by a block edge counts once, at its real sectors.
TEST(NtfsDeepDiskCopies, LogPagesInAVolumesLog) {
    auto device = CopyDevice("mbr-zeroed");
    std::vector<u8>& bytes = device->Bytes();
    const u64 base = u64(ntfsdisk::MmlsPartitions()[0].first) * 512;
    const CNTFSDataRunList log = ntfslog::RunsOf(bytes, base, 2);
    ASSERT_FALSE(log.IsEmpty());
    const i64 logSector = i64(base / 512) + log.GetLCN(0) * 4;
    const i64 logSectors = log.GetTotalClusters() * 4;
    auto put = [&](i64 sector, const std::vector<u8>& page) { std::memcpy(bytes.data() + sector * 512, page.data(), page.size()); };
    put(logSector, ntfslog::RestartPage());
    put(logSector + 8, ntfslog::RestartPage());
    // Record pages from page 4 on; page 6 torn; the last one cut by the edge of a block of 1000 sectors.
    const i64 pages = 12;
    for (i64 page = 4; page < 4 + pages; ++page) {
        std::vector<u8> p = ntfslog::LogPage({}, 0, 0);
        if (page == 6) ntfslog::PutInto(p).Le16(2 * 512 + 510, 9);
        put(logSector + 8 * page, p);
    }
    const i64 cutPage = logSector + 8 * (4 + pages);
    put(cutPage, ntfslog::LogPage({}, 0, 0));
    DeepScan scan(std::move(device));
    // A block edge 3 sectors into the last page.
    scan.blockSectors = cutPage + 3;
    scan.Run();
    const auto partitions = scan.Partitions();
    ASSERT_GE(partitions.size(), 1u);
    const auto& alpha = partitions[0];
    EXPECT_EQ(alpha.GetPartitionBuildFromFlags() & (kFlagRestart1 | kFlagRestart2), kFlagRestart1 | kFlagRestart2);
    EXPECT_EQ(alpha.m_logFileMatches, 8 * pages)
        << "12 pages of 8 sectors and the cut one, less the torn one (the inclusive end adds no page here)";
    EXPECT_EQ(alpha.m_score, 110) << "the log's 96 sectors stay below the 10,000 of its term";
    EXPECT_EQ(alpha.m_logFileSector, i64(base / 512) + ntfslog::RunsOf(bytes, base, 0).GetLCN(0) * 4 + 4);
    ASSERT_GT(logSectors, 8 * (5 + pages));
}

// A deleted file whose record shows a size of 0 gets its size and runs back from the $LogFile.
TEST(NtfsDeepDiskCopies, ADeletedEmptyFileIsRebuiltFromTheLog) {
    auto device = CopyDevice("mbr-zeroed");
    const u64 base = u64(ntfsdisk::MmlsPartitions()[0].first) * 512;
    const auto sums = ntfsdisk::Icat(1);
    const ntfslog::PlantedLog planted =
        ntfslog::PlantEmptyFileRebuild(device->Bytes(), base, sums.at("Alpha/Deleted Empty.txt").inode,
                                       sums.at("Alpha/readme.txt").inode, sums.at("Alpha/Deleted Report.txt").inode);
    DeepScan scan(std::move(device));
    scan.Run();
    const auto tree = ntfsdisk::ByPartition(scan.builder).at(0);
    auto it = tree.find("Alpha/Deleted Empty.txt");
    ASSERT_NE(it, tree.end());
    auto* node = dynamic_cast<CNTFSFileNode*>(it->second.node);
    EXPECT_EQ(node->GetFileSize(), 2 * planted.cluster);
    IDataRunList* runs = node->GetDataRunList();
    ASSERT_TRUE(runs && runs->GetFirst());
    EXPECT_EQ(runs->GetFirst()->start, planted.readmeLcn);
    const std::string copy = ReadAll(scan.device.get(), node, scan.Partitions()[0]);
    EXPECT_EQ(testsupport::Sha256Hex(copy.substr(0, 3000)), sums.at("Alpha/readme.txt").sha256);
}

}  // namespace
