// The searcher interfaces' default behaviour, and that each engine-side interface header stands alone.
#include <gtest/gtest.h>

#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/IFileProperties.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/RestoreScanSink.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace {

class MinimalDeepSearcher : public ICompleteFileSystemSearchController {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*) override {}
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return CopySearchedPartitionInfo(m_records, out, capacity);
    }
    void SetDevice(IStorageDevice*) override {}
    void SetBlockSize(int) override {}
    int PreparetoSearch() override { return 1; }
    int AnalyzeBlock(i64, i64) override { return 1; }
    std::vector<CSearchedPartitionInfo*> m_records;
};

}  // namespace

TEST(SearcherInterfaces, CompleteSearcherDefaults) {
    MinimalDeepSearcher searcher;
    ICompleteFileSystemSearchController& s = searcher;
    EXPECT_EQ(s.GetBitmap(), nullptr);
    EXPECT_TRUE(s.SetActivePartition(true));
    EXPECT_FALSE(s.SetActivePartition(false));
    EXPECT_EQ(s.EndSearch(1), 1);
    FileSectorMap map;
    s.SetFileSectorMap(&map);
    s.SetBitmap(nullptr);
    s.SetIProgressSink(nullptr);

    CSearchedPartitionInfo one, two;
    searcher.m_records = {&one, &two};
    CSearchedPartitionInfo* out[1] = {nullptr};
    EXPECT_EQ(s.GetSearchedPartitionInfo(nullptr, 0), 2);
    EXPECT_EQ(s.GetSearchedPartitionInfo(out, 1), 0);
    EXPECT_EQ(out[0], nullptr);
}

TEST(SearcherInterfaces, ResultTreeLockIsRecursive) {
    SimpleLock outer(&g_lockerAddData);
    SimpleLock inner(&g_lockerAddData);
    SUCCEED();
}
