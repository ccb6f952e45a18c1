#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "UtilitiesTestSupport.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/FileTypeManager.h"
#include "engine/Common/IRecoveryFilter.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ResourcePropertyList.h"

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PumpedMainThreadQueue;

namespace {

struct CentreFixture : testing::Test {
    NotificationCenter centre;
    PumpedMainThreadQueue queue;
    std::vector<std::string> seen;
    int observer = 0;
    void SetUp() override {
        centre.SetMainThreadQueue(&queue);
        KXUIPublic::SetNotificationCenter(&centre);
        centre.AddObserver(&observer, "", KXUIPublic::ClassObject(),
                           [this](const Notification& n) { seen.push_back(n.name); });
    }
    void TearDown() override { KXUIPublic::SetNotificationCenter(nullptr); }
};

TEST_F(CentreFixture, WorkerPostsArriveOnTheMainThreadAfterTheCall) {
    std::thread worker([] {
        KXUIPublic::NotifyMainThread("NormalScranValue");
        KXUIPublic::NotifyMainThread("DoRecovery");
    });
    worker.join();
    EXPECT_TRUE(seen.empty());
    queue.Pump();
    EXPECT_EQ(seen, (std::vector<std::string>{"NormalScranValue", "DoRecovery"}));
    KXUIPublic::NotifyMainThreadCB("Now");
    EXPECT_EQ(seen.back(), "Now") << "the callback posts at once";
}

TEST_F(CentreFixture, BackgroundWorkThenThePost) {
    std::atomic<bool> done{false};
    KXUIPublic::NotifyMainThreadByPostKey("aInitFinished", [&] { done.store(true); });
    KXUIPublic::WaitForBackgroundWork();
    EXPECT_TRUE(done.load());
    EXPECT_TRUE(seen.empty());
    queue.Pump();
    EXPECT_EQ(seen, (std::vector<std::string>{"aInitFinished"}));
}

// A filter double that records what it is told.
struct RecordingFilter : IRecoveryFilter {
    int ShowNormalFiles() override { return 0; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode*) override { return 1; }
    void SetFilterTypes(u32 bits) override { masks.push_back(bits); }
    u32 GetNodeFileType(IFileNode*) override { return 64; }
    void Release() override { ++releases; }
    std::vector<u32> masks;
    int releases = 0;
};

TEST(KXUIFilter, ResetAfterAFailedCreationTriesAgain) {
    RecordingFilter filter;
    int calls = 0;
    {
        KXUIFilter bridge([&]() -> IRecoveryFilter* { return ++calls == 1 ? nullptr : &filter; });
        EXPECT_EQ(bridge.GetFilter(), nullptr);
        bridge.ResetFilter(2);
        EXPECT_EQ(bridge.GetFilter(), &filter);
        bridge.ResetFilter(127);
        EXPECT_EQ(calls, 2) << "an existing filter is kept";
        EXPECT_EQ(filter.masks, (std::vector<u32>{2, 127}));
    }
    EXPECT_EQ(filter.releases, 1);
}

// The engine's filter fed with the shipped category lists, through the bridge.
TEST(KXUIFilter, KeepsOnlyTheChosenCategories) {
    const auto types = brelvox::foundation::ResourcePropertyList::FileType().Read();
    ASSERT_TRUE(types.has_value());
    std::map<int, std::string> lists;
    for (int bit : {1, 2, 4, 8, 16, 32}) {
        std::string joined;
        for (const auto& ext : types->GetStringArray(std::to_string(bit)).value_or(std::vector<std::string>{})) {
            joined += (joined.empty() ? "" : ";") + ext;
        }
        lists[bit] = joined;
    }
    CFileTypeManager::Initialze(lists);

    KXUIFilter& bridge = KXUIFilter::instance();
    ASSERT_NE(bridge.GetFilter(), nullptr);
    utilities_test::Tree tree;
    auto* photo = tree.Add(tree.root(), "IMG_0001.JPG");
    auto* song = tree.Add(tree.root(), "song.mp3");
    auto* folder = tree.Add(tree.root(), "folder", true);
    bridge.ResetFilter(FILTER_PICTURE);
    IRecoveryFilter* filter = bridge.GetFilter();
    EXPECT_EQ(filter->IsFileNodeValid(photo), 1);
    EXPECT_EQ(filter->IsFileNodeValid(song), 0);
    EXPECT_EQ(filter->IsFileNodeValid(folder), 1);
    EXPECT_EQ(filter->GetNodeFileType(song), 8u);
    bridge.ResetFilter(FILTER_ALL);
    EXPECT_EQ(filter->IsFileNodeValid(song), 1);
}

}  // namespace
