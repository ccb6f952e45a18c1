// The search by name and the scan's refreshes as the window sees them: what each tree holds when the
// search key, "DoSearchFinished" and "NormalScranValue" reach it, while a fake engine finds files on
// the scan worker (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "../Scan/ScanTestSupport.h"
#include "TreesTestSupport.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/CatchExeception.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

using namespace trees_test;
using namespace scantest;
using testsupport::CallLog;
using testsupport::FakeControllerFactory;
using testsupport::FakeFileTree;
using testsupport::FakeWindowSide;
using ui_notification::kDoSearchFinished;
using ui_notification::kDoSearchValue;
using ui_notification::kNormalScanValue;

struct Snapshot {
    std::string path, type, created, modified;
    std::multiset<std::string> listed;  // the files the path tree's folders list
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(WindowArrays& arrays) {
    SimpleLock hold(&g_lockerAddData);
    Snapshot s{Outline(arrays.path), Outline(arrays.type), Outline(arrays.created), Outline(arrays.modified), {}};
    for (const auto& root : arrays.path) ListedFiles(*root, "", s.listed);
    return s;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Every file held by the type and date trees and listed by the path tree holds key (case ignored).
// The date trees hold the dated ones.
void ExpectOnlyMatches(WindowArrays& arrays, const std::string& key, size_t matches, size_t dated) {
    for (const TreeArray* array : {&arrays.type, &arrays.created, &arrays.modified}) {
        const auto held = HeldFiles(*array);
        EXPECT_EQ(held.size(), array == &arrays.type ? matches : dated);
        for (IFileNode* file : held) EXPECT_NE(Lower(file->GetFileName()).find(Lower(key)), std::string::npos);
    }
    const Snapshot now = Take(arrays);
    EXPECT_EQ(now.listed.size(), matches);
    for (const std::string& file : now.listed) EXPECT_NE(Lower(file).find(Lower(key)), std::string::npos) << file;
}

FakeWindowSide::Options Options(std::shared_ptr<FakeFileTree> tree, int blocks, int blockMs, CallLog* log) {
    FakeWindowSide::Options options;
    options.devices = Devices({UsbDisk({Volume("STICK", "sdb1")})});
    options.controllers = FakeControllerFactory({.blocks = blocks, .blockMs = blockMs, .tree = std::move(tree)}, log);
    return options;
}

TEST(Search, TheKeyArrivesAfterTheCurrentViewAndTheOtherTreesChangeOnlyAtTheEnd) {
    CallLog log;
    FakeWindowSide window(Options(FoundFiles(), 4, 0, &log));
    WindowArrays arrays;
    testsupport::TempDir work;
    CatchExeception::Instance()->ResetWorkPath(work.path().c_str());
    IUIController& ui = window.Controller();
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    const Snapshot scanned = Take(arrays);
    ASSERT_EQ(scanned.listed.size(), 5u);

    std::vector<std::pair<std::string, Snapshot>> seen;
    for (const char* name : {kDoSearchValue, kDoSearchFinished})
        window.Centre().AddObserver(&seen, name, nullptr,
                                    [&](const brelvox::foundation::Notification& n) { seen.push_back({n.name, Take(arrays)}); });

    struct Case {
        int view;
        std::string key;
        size_t matches;
        size_t dated;  // timeless.bin has no times
    };
    const Case cases[] = {{0, "REPORT", 1, 1}, {1, "img_000", 2, 2}, {2, "Notes", 1, 1},
                          {3, "", 5, 4},       {1, "t", 3, 2},       {0, "", 5, 4}};
    Snapshot previous = scanned;
    for (const Case& c : cases) {
        SCOPED_TRACE("view " + std::to_string(c.view) + " key '" + c.key + "'");
        seen.clear();
        ui.SetViewType(c.view);
        ASSERT_TRUE(ui.DoSearchWithString(c.key, kDoSearchValue));
        EXPECT_TRUE(ui.KXGetIsSearching());
        EXPECT_FALSE(ui.DoSearchWithString("other", kDoSearchValue)) << "one search at a time";
        ASSERT_TRUE(window.RunUntil([&] { return seen.size() == 2; }));
        EXPECT_FALSE(ui.DoSearchWithString("other", kDoSearchValue)) << "refused until stopped";
        ASSERT_EQ(seen[0].first, kDoSearchValue);
        ASSERT_EQ(seen[1].first, kDoSearchFinished);
        const Snapshot& atKey = seen[0].second;
        const Snapshot& atEnd = seen[1].second;
        // At the key: only the current view's tree is the new one.
        EXPECT_EQ(atKey.path, c.view == 0 ? atEnd.path : previous.path);
        EXPECT_EQ(atKey.type, c.view == 1 ? atEnd.type : previous.type);
        EXPECT_EQ(atKey.created, c.view == 2 ? atEnd.created : previous.created);
        EXPECT_EQ(atKey.modified, c.view == 3 ? atEnd.modified : previous.modified);
        ExpectOnlyMatches(arrays, c.key, c.matches, c.dated);
        EXPECT_EQ(ui.GetSearchString(), c.key);
        std::vector<IFileNode*> results;
        ui.GetSearchResultToArr(&results);
        EXPECT_EQ(results.size(), c.key.empty() ? 0u : c.matches);
        ui.KXSetFlag(1);
        ui.StopSearch();
        EXPECT_FALSE(ui.KXGetIsSearching());
        // The search thread may still be leaving after its posts: the next search waits for it.
        ASSERT_TRUE(window.RunUntil([] { return !KXUIController::IsSearchWorkerAlive(); }));
        EXPECT_EQ(KXUIScan::instance().GetAddDataFlag(), 0);
        previous = Take(arrays);
        if (c.key.empty()) {
            EXPECT_EQ(previous, scanned) << "no key: every tree as the scan left it";
        }
    }
    // Each refused search left its line in the log.
    std::ifstream file(CatchExeception::Instance()->GetLogFilePath());
    std::stringstream text;
    text << file.rdbuf();
    const std::string logged = text.str(), line = "++++++++++skip search key:other++++++++";
    size_t refusals = 0;
    for (size_t at = logged.find(line); at != std::string::npos; at = logged.find(line, at + 1)) ++refusals;
    EXPECT_EQ(refusals, 2 * std::size(cases));
    CatchExeception::Instance()->ResetWorkPath();
}

TEST(Search, TheWindowReadsEveryTreeOnEachRefreshWhileTheEngineGrowsThemAndASearchRuns) {
    std::vector<testsupport::FakeFileRow> rows;
    for (int i = 0; i < 2000; ++i)
        rows.push_back({"folder " + std::to_string(i / 40) + "/sub " + std::to_string(i % 3) + "/file " +
                            std::to_string(i) + (i % 2 ? ".jpg" : ".doc"),
                        100 + i, kJuly2019 + i * 864000000000LL, kMarch2021 - i * 864000000000LL,
                        testsupport::kFakeDeleted});
    auto tree = std::make_shared<FakeFileTree>("STICK", SEARCHER_FAT, rows);
    CallLog log;
    FakeWindowSide window(Options(tree, 200, 1, &log));
    WindowArrays arrays;
    IUIController& ui = window.Controller();
    size_t reads = 0, searches = 0;
    window.Centre().AddObserver(&reads, kNormalScanValue, nullptr, [&](const brelvox::foundation::Notification&) {
        ++reads;
        Take(arrays);
        std::vector<IFileNode*> files;
        SimpleLock hold(&g_lockerAddData);
        for (const auto& root : arrays.created) KXUIController::GetNodeChildrenCnt(root.get());
        for (const auto& root : arrays.type) ui.GetFileNodeToArray(&files, root.get());
    });
    window.Centre().AddObserver(&searches, kDoSearchFinished, nullptr, [&](const brelvox::foundation::Notification&) {
        ++searches;
        Take(arrays);
        ui.StopSearch();
    });
    // A search now and then while the scan runs.
    for (int at : {20, 50, 80})
        window.When([at] { return KXUIScan::instance().GetProgressInfo().current >= u64(at * 2); },
                    [&ui] { ui.DoSearchWithString("file 1", kDoSearchValue); }, "search");
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    ASSERT_TRUE(window.RunUntil([&] { return !KXUIController::IsSearchWorkerAlive(); }));
    window.Pump();
    EXPECT_GE(reads, 2u);
    EXPECT_GE(searches, 1u);
    // A last search with no key: every file is back in every tree.
    ASSERT_TRUE(window.RunUntil([&] { return ui.DoSearchWithString("", kDoSearchValue); }));
    const size_t before = searches;
    ASSERT_TRUE(window.RunUntil([&] { return searches > before; }));
    ExpectOnlyMatches(arrays, "", rows.size(), rows.size());
}

}  // namespace
