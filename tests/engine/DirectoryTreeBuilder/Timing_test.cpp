// Real time where it matters, and the result-tree lock under a concurrent reader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/Common/ResultTreeLock.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "support/RecordingTree.h"
#include "support/SimpleFileNode.h"

using testsupport::RecordingTree;
using testsupport::SimpleFileNode;

TEST(DirectoryTreeBuilderTiming, RealClockSleepsOnFirstPublishAndBuildsAfterThreeSeconds) {
    RecordingTree tree;
    CRecoveryFilter filter;
    filter.SetScanType(SCAN_DEEP);
    CDirectoryTreeBuilder builder(false);
    builder.Initialize("Dev", &tree, &filter);
    builder.AddSearcherInfo(SEARCHER_NTFS, 5);
    builder.AddNode(new SimpleFileNode(10, 5, "d", true), SEARCHER_NTFS);
    builder.AddNode(&(new SimpleFileNode(11, 10, "f", false, 1))->Deleted(), SEARCHER_NTFS);
    EXPECT_EQ(tree.PublishedCount(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    const auto start = std::chrono::steady_clock::now();
    builder.AddNode(&(new SimpleFileNode(12, 10, "g", false, 1))->Deleted(), SEARCHER_NTFS);
    EXPECT_EQ(tree.PublishedCount(), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(DirectoryTreeBuilderTiming, LinksUnderTheResultTreeLockWhileAReaderWalks) {
    RecordingTree tree;
    CRecoveryFilter filter;
    filter.SetScanType(SCAN_DEEP);
    CDirectoryTreeBuilder builder(false);
    i64 now = 0;
    builder.SetClock([&now] { return now; }, [](int) {});
    builder.Initialize("Dev", &tree, &filter);
    builder.AddSearcherInfo(SEARCHER_NTFS, 5);
    builder.AddNode(new SimpleFileNode(10, 5, "d", true), SEARCHER_NTFS);
    builder.AddNode(&(new SimpleFileNode(11, 10, "f", false, 1))->Deleted(), SEARCHER_NTFS);
    builder.FlashBuild(SEARCHER_NTFS);  // publishes the root; the folder keeps receiving children
    ASSERT_EQ(tree.Roots().size(), 1u);
    auto* root = dynamic_cast<CFileNode*>(tree.Roots()[0]);

    std::atomic<bool> stop{false};
    std::atomic<long> walks{0};
    std::atomic<long> lastSum{0};
    std::thread reader([&] {
        while (!stop.load()) {
            SimpleLock hold(&g_lockerAddData);
            long count = 0;
            for (CFileNode* d = root->GetFirstChild(); d; d = d->GetNextNode())
                for (CFileNode* f = d->GetFirstChild(); f; f = f->GetNextNode()) count += f->GetFileSize();
            lastSum = count;
            ++walks;
        }
    });
    // Bounded waits on the reader's progress, so the test holds under load.
    auto waitForWalk = [&walks] {
        const long seen = walks.load();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (walks.load() <= seen && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    };
    waitForWalk();
    for (int i = 0; i < 3000; ++i) {
        if (i % 100 == 0) ++now;  // every few seconds of fake time a build links a batch
        builder.AddNode(&(new SimpleFileNode(100 + i, 10, "x", false, 1))->Deleted(), SEARCHER_NTFS);
    }
    builder.FlashBuild(SEARCHER_NTFS);
    waitForWalk();
    stop = true;
    reader.join();
    EXPECT_EQ(lastSum.load(), 3001);  // the last walk saw every file
    EXPECT_EQ(tree.PublishedCount(), 3002u);
}
