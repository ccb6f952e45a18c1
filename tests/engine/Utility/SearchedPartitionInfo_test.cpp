#include <gtest/gtest.h>

#include "engine/Utility/SearchedPartitionInfo.h"

TEST(SearchedPartitionInfo, Defaults) {
    struct Case {
        u32 in, out;
    } cases[] = {{0, 512}, {1000, 512}, {4096, 4096}, {512, 512}, {1536, 1536}};
    for (const auto& c : cases) EXPECT_EQ(CSearchedPartitionInfo(c.in).m_sectorSize, c.out) << c.in;
    CSearchedPartitionInfo info(512);
    EXPECT_EQ(info.GetType(), 4u);
    EXPECT_EQ(info.m_partitionIndex, -1);
    EXPECT_EQ(info.m_fileSystemType, 10u);
    EXPECT_EQ(info.m_privateData, nullptr);
    EXPECT_EQ(info.m_score, 1);
    EXPECT_EQ(info.m_weight, 0.0);
    info.SetTotalSectors(12345);
    EXPECT_EQ(info.GetTotalSectors(), 12345);
    CSearchedPartitionInfo copy(4096);
    copy = info;
    EXPECT_EQ(copy.m_sectorSize, 512u);
    EXPECT_EQ(copy.GetTotalSectors(), 12345);
}

namespace {
struct DerivedRecord : CSearchedPartitionInfo {
    u32 GetType() override { return 7; }
    int extra = 42;
};
}  // namespace

TEST(SearchedPartitionInfo, CopyContract) {
    DerivedRecord a, b;
    a.m_partitionStartSector = 63;
    std::vector<DerivedRecord*> records{&a, &b};
    EXPECT_EQ(CopySearchedPartitionInfo(records, nullptr, 0), 2);

    CSearchedPartitionInfo* out[2] = {nullptr, nullptr};
    EXPECT_EQ(CopySearchedPartitionInfo(records, out, 1), 0);
    EXPECT_EQ(out[0], nullptr);  // nothing written

    ASSERT_EQ(CopySearchedPartitionInfo(records, out, 2), 2);
    EXPECT_EQ(out[0]->GetType(), 7u);
    EXPECT_EQ(out[0]->m_partitionStartSector, 63);
    EXPECT_NE(out[0], &a);
    delete out[0];
    delete out[1];
}
