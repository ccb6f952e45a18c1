// The cluster-by-cluster reader over a memory device: fragments, sparse runs, clipping and refusals.
#include <gtest/gtest.h>

#include <vector>

#include "engine/NTFSLib/FileReaderEx.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/Utility/DataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/MemoryDevice.h"
#include "support/SimpleFileNode.h"

using testsupport::MemoryDevice;
using testsupport::SimpleFileNode;

namespace {

constexpr u32 kSector = 512;
constexpr int kSpc = 2;
constexpr i64 kCluster0 = 10;
constexpr i64 kCluster = kSector * kSpc;

// Byte at device offset o: a pattern that differs in every cluster.
u8 PatternAt(u64 o) {
    return static_cast<u8>((o * 7 + o / kCluster) & 0xFF);
}

struct Fixture {
    MemoryDevice device{std::vector<u8>(64 * kSector), kSector};
    SimpleFileNode node{1, 0, "f", false, 3000};
    Fixture() {
        for (size_t i = 0; i < device.Bytes().size(); ++i) device.Bytes()[i] = PatternAt(i);
        auto* runs = new CDataRunList();
        runs->AddDataRun(DataRun{5, 1});   // VCN 0
        runs->AddDataRun(DataRun{-1, 1});  // VCN 1: sparse
        runs->AddDataRun(DataRun{2, 1});   // VCN 2
        node.SetDataRunList(runs);
    }
    // The file's byte at file offset o, as the runs place it.
    u8 Expected(i64 o) const {
        const i64 vcn = o / kCluster;
        if (vcn == 1) return 0;
        const i64 lcn = vcn == 0 ? 5 : 2;
        return PatternAt(static_cast<u64>((kCluster0 + lcn * kSpc) * kSector + o % kCluster));
    }
};

}  // namespace

TEST(FileReaderEx, ReadsFragmentsAndSparseZerosTwice) {
    Fixture f;
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(&f.device, &f.node, kCluster0, kSpc), 1);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<u8> out(4000, 0xEE);
        int done = -1;
        ASSERT_EQ(reader.Read(0, out.data(), 4000, done), 1);
        ASSERT_EQ(done, 3000);  // clipped to the file size
        for (i64 i = 0; i < 3000; ++i) ASSERT_EQ(out[i], f.Expected(i)) << i;
        EXPECT_EQ(out[3000], 0xEE);  // nothing written past the clipped length
    }
}

TEST(FileReaderEx, UnalignedReadsAndEnd) {
    Fixture f;
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(&f.device, &f.node, kCluster0, kSpc), 1);
    struct Case {
        i64 offset;
        int length, result, done;
    } cases[] = {{1000, 100, 1, 100}, {2040, 20, 1, 20}, {2999, 10, 1, 1},
                 {3000, 1, 0, 0},     {-1, 1, 0, 0},     {0, 0, 1, 0}};
    for (const auto& c : cases) {
        std::vector<u8> out(200, 0);
        int done = -1;
        EXPECT_EQ(reader.Read(c.offset, out.data(), c.length, done), c.result) << c.offset;
        EXPECT_EQ(done, c.done) << c.offset;
        for (int i = 0; i < done; ++i) EXPECT_EQ(out[i], f.Expected(c.offset + i)) << c.offset << "+" << i;
    }
}

TEST(FileReaderEx, OpenRefusals) {
    Fixture f;
    SimpleFileNode empty(2, 0, "e", false, 0);
    empty.SetDataRunList(new CDataRunList());
    SimpleFileNode noRuns(3, 0, "n", false, 10);
    CFileReaderEx reader;
    EXPECT_EQ(reader.Open(nullptr, &f.node, 0, 1), 0);
    EXPECT_EQ(reader.Open(&f.device, nullptr, 0, 1), 0);
    EXPECT_EQ(reader.Open(&f.device, &f.node, 0, 0), 0);
    EXPECT_EQ(reader.Open(&f.device, &f.node, 0, -4), 0);
    EXPECT_EQ(reader.Open(&f.device, &f.node, 0, 1 << 20), 0);  // an absurd cluster size
    EXPECT_EQ(reader.Open(&f.device, &empty, 0, 1), 0);
    EXPECT_EQ(reader.Open(&f.device, &noRuns, 0, 1), 0);
    EXPECT_EQ(reader.Open(&f.device, &f.node, static_cast<CSearchedPartitionInfo*>(nullptr)), 0);
    int done = 0;
    u8 byte = 0;
    EXPECT_EQ(reader.Read(0, &byte, 1, done), 0);  // not open

    CSearchedPartitionInfo partition(kSector);
    partition.m_cluster0Sector = kCluster0;
    partition.m_sectorsPerCluster = kSpc;
    ASSERT_EQ(reader.Open(&f.device, &f.node, &partition), 1);
    EXPECT_EQ(reader.Read(0, &byte, 1, done), 1);
    EXPECT_EQ(byte, f.Expected(0));
}

TEST(FileReaderEx, HostileRunsAndFailedReads) {
    Fixture f;
    struct Case {
        const char* what;
        DataRun run;
    } cases[] = {{"past the device", {1000, 1}}, {"overflowing LCN", {INT64_MAX / 2, 1}}};
    for (const auto& c : cases) {
        SimpleFileNode node(9, 0, "h", false, 100);
        auto* runs = new CDataRunList();
        runs->AddDataRun(c.run);
        node.SetDataRunList(runs);
        CFileReaderEx reader;
        ASSERT_EQ(reader.Open(&f.device, &node, kCluster0, kSpc), 1) << c.what;
        u8 out[100];
        int done = 0;
        EXPECT_EQ(reader.Read(0, out, 100, done), 0) << c.what;
    }
    f.device.FailSector(kCluster0 + 5 * kSpc);
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(&f.device, &f.node, kCluster0, kSpc), 1);
    u8 out[10];
    int done = 0;
    EXPECT_EQ(reader.Read(0, out, 10, done), 0);

    // Runs shorter than the file: what the runs hold, and no more.
    SimpleFileNode longer(4, 0, "l", false, 5000);
    auto* runs = new CDataRunList();
    runs->AddDataRun(DataRun{1, 1});
    longer.SetDataRunList(runs);
    ASSERT_EQ(reader.Open(&f.device, &longer, kCluster0, kSpc), 1);
    std::vector<u8> big(5000);
    EXPECT_EQ(reader.Read(0, big.data(), 5000, done), 1);
    EXPECT_EQ(done, kCluster);
}

TEST(FileReaderEx, ResidentDataNeedsAnNtfsRecord) {
    Fixture f;
    class ResidentList : public CDataRunList {
    public:
        ResidentList() {
            m_resident = 1;
            AddDataRun(DataRun{3, 1});
        }
    };
    SimpleFileNode plain(1, 0, "p", false, 10);
    plain.SetDataRunList(new ResidentList());
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(&f.device, &plain, 0, 1), 1);
    u8 out[10];
    int done = 7;
    EXPECT_EQ(reader.Read(0, out, 10, done), 0);  // not an NTFS node
    EXPECT_EQ(done, 0);
}
