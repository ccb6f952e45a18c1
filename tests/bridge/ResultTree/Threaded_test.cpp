// A worker grows the scan's maps and refreshes the trees under the result-tree lock while the main
// thread reads and ticks them under the same lock (run under ThreadSanitizer by the test command).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"

using result_tree_test::WithController;
using testsupport::FakeFileTime;
using testsupport::FakeFileTree;

namespace {

// Every engine node below a node, counted once per place.
void CollectFiles(const OpNodeData& node, std::multiset<IFileNode*>& out) {
    for (const auto& child : node.children()) {
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child)) {
            CollectFiles(**sub, out);
        } else {
            out.insert(std::get<IFileNode*>(child));
        }
    }
}

class ThreadedTrees : public WithController {};

TEST_F(ThreadedTrees, AWorkerGrowsTheTreesWhileTheMainThreadReadsThem) {
    constexpr int kFiles = 1500;
    const char* kExtensions[] = {"jpg", "PNG", "mp3", "doc", "xyz", ""};
    const u32 kBits[] = {2, 2, 8, 1, 64, 64};

    FakeFileTree files("Card", SEARCHER_FAT, {});
    KXTypeMgr types(&ui, nullptr, brelvox::foundation::FileTypeCatalogue(
                                      {{"1", {"doc"}}, {"2", {"jpg", "png"}}, {"8", {"mp3"}}}));
    KXTimeMgr dates(&ui);
    const auto created = OpNodeData::NewGroup(2, "Created", 1);
    const auto modified = OpNodeData::NewGroup(3, "Modified", 1);

    std::atomic<bool> done{false};
    std::atomic<int> added{0};
    std::thread worker([&] {
        for (int i = 0; i < kFiles; ++i) {
            const int kind = i % 6;
            const std::string name = "f" + std::to_string(i) + (*kExtensions[kind] ? "." : "") + kExtensions[kind];
            const i64 when = 1000000000 + static_cast<i64>(i) * 86400 * 7;
            auto* node = files.Add({"dir" + std::to_string(i % 7) + "/" + name, i, FakeFileTime(when),
                                    FakeFileTime(when + 3600), 0});
            ui.FileFound(node, kBits[kind]);
            added.fetch_add(1);
            if (i % 50 == 49 || i == kFiles - 1) {
                SimpleLock hold(&g_lockerAddData);
                types.refreshTypeTree();
                dates.refreshTimeTree(created, 2);
                dates.refreshTimeTree(modified, 3);
            }
        }
        done.store(true);
    });

    // One reading round under the lock.
    const auto readTrees = [&](int round) {
        SimpleLock hold(&g_lockerAddData);
        size_t seen = 0;
        for (const auto& root : types.getRootNode()) {
            for (const auto& child : root->children()) {
                seen += OpNodeData::childState(child) >= 0;
                if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child)) (*sub)->name();
            }
        }
        for (const auto& year : created->children()) seen += std::get<OpNodeData::Ptr>(year)->name().size() == 4;
        if (round % 5 == 0) {
            types.rootNode(2)->setNodeState(round % 10 == 0 ? 0 : 2);
            types.KXSetNeedRefreshTree();
            types.refreshTypeTreeState();
            dates.KXSetNeedRefreshTree();
        }
        (void)seen;
    };
    // Between rounds the reader waits, without the lock, until the worker has added a file: a lock is
    // not fair, and a reader taking it back at once starved the worker for minutes.
    int rounds = 0;
    while (!done.load() || rounds < 3) {
        const int before = added.load();
        readTrees(++rounds);
        while (!done.load() && added.load() == before) std::this_thread::yield();
    }
    worker.join();

    SimpleLock hold(&g_lockerAddData);
    std::multiset<IFileNode*> inTypes, inCreated, inModified;
    for (const auto& root : types.getRootNode()) CollectFiles(*root, inTypes);
    CollectFiles(*created, inCreated);
    CollectFiles(*modified, inModified);
    const std::vector<testsupport::FakeFileNode*> all = files.Files();
    const std::multiset<IFileNode*> expected(all.begin(), all.end());
    EXPECT_EQ(inTypes, expected);
    EXPECT_EQ(inCreated, expected);
    EXPECT_EQ(inModified, expected);
    EXPECT_EQ(types.rootNode(64)->children().size(), 2u * kFiles / 6) << "xyz and no extension";
}

}  // namespace
