// The deep NTFS search over hostile bytes: every case of the disk's hostile table and of the quick
// search's, log pages whose records run past the page in a volume's $LogFile; each ends without a
// crash, a hang or a sanitizer report. A second scan in one process gives the same result.
#include <gtest/gtest.h>

#include "NtfsDiskSupport.h"
#include "NtfsLogWriter.h"
#include "support/MemoryDevice.h"

namespace {

using ntfsdisk::DeepScan;

// The partitions and every node (partition, path, size, deleted) of a scan, as text.
std::string Outcome(DeepScan& scan) {
    std::string out;
    for (const auto& p : scan.Partitions())
        out += std::to_string(p.m_cluster0Sector) + " " + std::to_string(p.m_sectorsPerCluster) + " " +
               std::to_string(p.m_totalSectors) + " " + std::to_string(p.GetPartitionBuildFromFlags()) + " " +
               std::to_string(p.m_score) + "\n";
    for (const auto& [partition, tree] : ntfsdisk::ByPartition(scan.builder))
        for (const auto& [path, l] : tree)
            out += std::to_string(partition) + " " + path + " " + std::to_string(l.size) + " " + std::to_string(l.deleted) + "\n";
    return out;
}

TEST(NtfsDeepHostile, EveryCaseOfTheDiskEndsWithoutHarm) {
    const auto cases = ntfstest::HostileCases(ntfsdisk::kFolder);
    ASSERT_GE(cases.size(), 15u);
    for (const std::string& name : cases) {
        SCOPED_TRACE(name);
        DeepScan scan(std::make_unique<testsupport::MemoryDevice>(ntfsdisk::HostileBytes(name), 512, STORAGE_DEVICE_DISK));
        scan.Run();
        // The volumes the damage does not touch are still found.
        EXPECT_GE(scan.Partitions().size(), 2u);
        EXPECT_LE(scan.Partitions().size(), 6u);
    }
}

TEST(NtfsDeepHostile, EveryCaseOfTheQuickTableEndsWithoutHarm) {
    testsupport::TempDir dir;
    for (const std::string& name : ntfstest::HostileCases()) {
        SCOPED_TRACE(name);
        DeepScan scan(ntfstest::PatchedImage(name, dir.path()));
        scan.Run();
        EXPECT_LE(scan.Partitions().size(), 4u);
    }
}

// A volume of 4096-byte sectors and records (the deep search assumes 512 and 1024): read without harm.
// The cluster sizes that records tell are counted in the scan's own sectors, while a scan of a volume of
// 512-byte sectors runs beside it (its blocks fed in turn with the other's): the 4 KiB clusters of the
// first are one sector, the 2 KiB clusters of the second four.
TEST(NtfsDeepHostile, AVolumeOf4096ByteSectors) {
    DeepScan big(std::make_unique<fattest::FileDevice>(ntfstest::Image("ntfs4k"), 4096, STORAGE_DEVICE_VOLUME));
    DeepScan small(std::make_unique<fattest::FileDevice>(ntfstest::Image("ntfs512"), 512, STORAGE_DEVICE_VOLUME));
    testsupport::DeepBlockFeeder bigFeeder(*big.searcher, *big.device, &big.builder);
    testsupport::DeepBlockFeeder smallFeeder(*small.searcher, *small.device, &small.builder);
    ASSERT_EQ(bigFeeder.Prepare(), 1);
    ASSERT_EQ(smallFeeder.Prepare(), 1);
    const i64 bigBlock = bigFeeder.BlockSectors(), smallBlock = smallFeeder.BlockSectors();
    const i64 bigTotal = big.device->GetTotalSectors(), smallTotal = small.device->GetTotalSectors();
    for (i64 b = 0; b * bigBlock < bigTotal || b * smallBlock < smallTotal; ++b) {
        if (b * smallBlock < smallTotal) smallFeeder.Feed(b * smallBlock, std::min(smallBlock, smallTotal - b * smallBlock));
        if (b * bigBlock < bigTotal) bigFeeder.Feed(b * bigBlock, std::min(bigBlock, bigTotal - b * bigBlock));
    }
    bigFeeder.End(1);
    smallFeeder.End(1);
    EXPECT_LE(big.Partitions().size(), 4u);
    for (const auto& [scan, spc] : {std::pair<DeepScan*, u8>{&big, 1}, {&small, 4}}) {
        ASSERT_FALSE(scan->searcher->GetMFTInfos().empty());
        for (const CMFTInfo* table : scan->searcher->GetMFTInfos()) EXPECT_EQ(table->GetSectorsPerCluster(), spc);
    }
}

// Log record pages in Alpha's $LogFile whose records claim lengths past their page and past the log,
// and a last page whose continued record never ends: the trees are built as without them.
TEST(NtfsDeepHostile, LogRecordsPastTheirPage) {
    auto bytes = ntfsdisk::CopyBytes("mbr-zeroed");
    const u64 base = u64(ntfsdisk::MmlsPartitions()[0].first) * 512;
    const CNTFSDataRunList log = ntfslog::RunsOf(bytes, base, 2);
    const i64 at = i64(base) + log.GetLCN(0) * 2048;
    const i64 pages = log.GetTotalClusters() * 2048 / 4096;
    std::vector<u8> huge(200, 0x11);
    ntfslog::PutInto(huge).Le64(0, 5);
    ntfslog::PutInto(huge).Le32(24, 0xFFFFFFF0);          // client data past everything
    ntfslog::PutInto(huge).Le16(58, 0xFFFF);              // undo length
    std::vector<u8> file(300, 0);
    ntfslog::PutInto(file).Le64(0, 6);
    ntfslog::PutInto(file).Le32(24, 4000);                // a FILE record claimed at the page end
    std::memcpy(file.data() + 88, "FILE0", 5);
    for (i64 page = 4; page < pages; ++page) {
        const std::vector<u8> p = page + 1 == pages ? ntfslog::LogPage({{4096 - 56, huge}}, 5, 4)
                                                    : ntfslog::LogPage({{64, huge}, {3900, file}}, 6, 6);
        std::memcpy(bytes.data() + at + page * 4096, p.data(), 4096);
    }
    DeepScan damaged(std::make_unique<testsupport::MemoryDevice>(bytes, 512, STORAGE_DEVICE_DISK));
    damaged.Run();
    DeepScan clean(std::make_unique<testsupport::MemoryDevice>(ntfsdisk::CopyBytes("mbr-zeroed"), 512, STORAGE_DEVICE_DISK));
    clean.Run();
    EXPECT_EQ(ntfsdisk::ByPartition(damaged.builder).at(0).size(), ntfsdisk::ByPartition(clean.builder).at(0).size());
}

// Nothing of one scan leaks into the next: the same disk gives the same partitions and nodes, with a
// new controller and with the same one prepared again.
TEST(NtfsDeepHostile, ASecondScanGivesTheSameResult) {
    testsupport::TempDir dir;
    const auto copy = ntfsdisk::Copy("index-across-block-edge", dir.path());
    DeepScan first(copy);
    first.Run();
    const std::string expected = Outcome(first);
    EXPECT_NE(expected.find("Alpha/frag.bin"), std::string::npos);
    DeepScan second(copy);
    second.Run();
    EXPECT_EQ(Outcome(second), expected);
    // The same controller, prepared again (its builder keeps the nodes of both runs).
    fattest::RecordingTreeBuilder again;
    testsupport::DeepBlockFeeder feeder(*first.searcher, *first.device, &again);
    feeder.Run();
    std::swap(first.builder.m_nodes, again.m_nodes);
    EXPECT_EQ(Outcome(first), expected);
    std::swap(first.builder.m_nodes, again.m_nodes);
}

}  // namespace
