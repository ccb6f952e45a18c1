// Workers, poll threads and the scan's refresh hook: what reaches the windows, when, and on which
// thread the result-tree arrays are rebuilt.
#include "bridge/Dispatch/Dispatch.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "support/FakeWindowSide.h"

namespace {

using std::chrono::milliseconds;
using testsupport::FakeWindowSide;
using ui_notification::kNormalScanValue;

// An operation whose flags the test sets.
class ScriptedOperation : public KXUIOperation {
public:
    int UpdateProgress(_PROGRESS_INFO*) override { return 0; }
};

// Result-tree arrays that record where and when they are rebuilt.
class RecordingArrays : public IResultTreeArrays {
public:
    explicit RecordingArrays(FakeWindowSide& window) : m_window(window) { SetResultTreeArrays(this); }
    ~RecordingArrays() override { SetResultTreeArrays(nullptr); }
    void RebuildForRefresh(int force) override {
        rebuilds.push_back(force);
        onMainThread = onMainThread && std::this_thread::get_id() == m_main;
        lockHeld = lockHeld && g_lockerAddData.Owner() == std::this_thread::get_id();
        // Every rebuild comes before the delivery it prepares.
        deliveredBefore.push_back(m_window.Count(kNormalScanValue));
    }
    void Reset() override { ++resets; }

    std::vector<int> rebuilds;
    std::vector<size_t> deliveredBefore;
    bool onMainThread = true;
    bool lockHeld = true;
    int resets = 0;

private:
    FakeWindowSide& m_window;
    std::thread::id m_main = std::this_thread::get_id();
};

TEST(Dispatch, APollThreadPostsOnceWhenNothingAskedForARefresh) {
    FakeWindowSide window;
    ScriptedOperation op;
    op.SetStatus(OP_RUNNING);
    int posts = 0;
    window.Centre().AddObserver(&op, "Poll", nullptr, [&](const auto&) { ++posts; });
    std::atomic<bool> release{false};
    auto worker = dispatch::DoOperation(
        [&] {
            while (!release.load()) std::this_thread::sleep_for(milliseconds(1));
            op.SetStatus(OP_IDLE);
        },
        &op, "Poll", true);
    ASSERT_TRUE(worker);
    window.RunUntil([] { return false; }, milliseconds(200));
    EXPECT_EQ(posts, 0);
    release = true;
    ASSERT_TRUE(window.RunUntil([&] { return posts == 1; }));
    ASSERT_TRUE(window.RunUntil([&] { return WorkerRegistry::Instance().RunningCount() == 0; }));
    WorkerRegistry::Instance().JoinReturned();
    window.RunUntil([] { return false; }, milliseconds(100));
    EXPECT_EQ(posts, 1) << "exactly once, after the operation exited";
    window.Centre().RemoveObserver(&op);
}

TEST(Dispatch, APollThreadPostsForEachRaisedFlagOnlyWhileTheTreeIsFinished) {
    FakeWindowSide window;
    ScriptedOperation op;
    op.SetStatus(OP_RUNNING);
    int posts = 0;
    window.Centre().AddObserver(&op, "Poll", nullptr, [&](const auto&) { ++posts; });
    std::thread poll([&] { dispatch::QueryStatusAndUpdateUI(op, "Poll"); });
    op.SetNeedUIUpdate(1);
    ASSERT_TRUE(window.RunUntil([&] { return posts == 1; }));
    EXPECT_EQ(op.IsNeedUIUpdate(), 0u) << "cleared by the poll";
    op.SetNeedUIUpdate(1);
    ASSERT_TRUE(window.RunUntil([&] { return posts == 2; }));
    op.SetStatus(OP_EXITED);
    ASSERT_TRUE(window.RunUntil([&] { return window.Clock()->Sleepers() == 0; }));
    poll.join();
    window.Pump();
    EXPECT_EQ(posts, 2) << "something was posted: no closing post";
    window.Centre().RemoveObserver(&op);
}

TEST(Dispatch, SaveAndLoadPollsEndWithTheirFinishNotification) {
    FakeWindowSide window;
    ScriptedOperation op;
    op.SetStatus(OP_RUNNING);
    std::vector<std::string> seen;
    window.Centre().AddObserver(&op, "", nullptr, [&](const brelvox::foundation::Notification& n) { seen.push_back(n.name); });
    std::thread load([&] { dispatch::QueryUpdateUI(op, "NormalScranValue"); });
    std::thread older([&] { dispatch::QuerySaveOrRestoreProgress(op); });
    op.SetNeedUIUpdate(1);
    ASSERT_TRUE(window.RunUntil([&] { return !seen.empty(); }));
    op.SetStatus(OP_IDLE);
    window.Clock()->Release();
    load.join();
    older.join();
    window.Pump();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "QueryProgressFinish");
    // The flag went to one of the two polls; the other posted nothing for it.
    const auto count = [&](const std::string& name) { return std::count(seen.begin(), seen.end(), name); };
    EXPECT_EQ(count("NormalScranValue") + count("QueryProgressInfo"), 1);
    EXPECT_EQ(count("QueryProgressFinish"), 1);
    window.Centre().RemoveObserver(&op);
}

TEST(Dispatch, WorkersHaveTwoMebibyteStacksAndAreJoined) {
    size_t stack = 0;
    auto worker = WorkerRegistry::Instance().Start("stack", [&] {
        pthread_attr_t attributes;
        pthread_getattr_np(pthread_self(), &attributes);
        pthread_attr_getstacksize(&attributes, &stack);
        pthread_attr_destroy(&attributes);
    });
    ASSERT_TRUE(worker);
    WorkerRegistry::Instance().JoinAll();
    EXPECT_TRUE(worker->HasReturned());
    EXPECT_GE(stack, WorkerRegistry::kWorkerStackBytes);
    EXPECT_EQ(WorkerRegistry::Instance().Count(), 0u);
}

TEST(Dispatch, TheRefreshHookPostsAtMostOncePerTwoSecondsUnlessForced) {
    FakeWindowSide window;
    RecordingArrays arrays(window);
    KXNotifyUIUpdateData(0);
    KXNotifyUIUpdateData(0);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 1u);
    window.Clock()->Advance(milliseconds(1900));
    KXNotifyUIUpdateData(0);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 1u) << "1.9 s after the last one";
    window.Clock()->Advance(milliseconds(100));
    KXNotifyUIUpdateData(0);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 2u);
    KXNotifyUIUpdateData(1);
    KXNotifyUIUpdateData(1);
    EXPECT_EQ(window.Count(kNormalScanValue), 2u) << "queued, never delivered inside the call";
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 4u);
    EXPECT_EQ(arrays.rebuilds, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(arrays.deliveredBefore, (std::vector<size_t>{0, 1, 2, 3}));
    EXPECT_TRUE(arrays.onMainThread);
    EXPECT_TRUE(arrays.lockHeld);
    ResetRefreshClock();
    KXNotifyUIUpdateData(0);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 5u) << "a reset clock lets the next one through";
}

TEST(Dispatch, AForcedRefreshAskedBeforeTheTreeIsFinishedIsDeliveredOnceItIs) {
    FakeWindowSide window;
    RecordingArrays arrays(window);
    KXUIScan& scan = KXUIScan::instance();
    scan.SetOpTreeFinished(0);
    KXNotifyUIUpdateData(0);
    KXNotifyUIUpdateData(1);
    KXNotifyUIUpdateData(1);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 0u);
    scan.SetOpTreeFinished(1);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 1u) << "one forced refresh, once";
    EXPECT_EQ(arrays.rebuilds, (std::vector<int>{1}));
    scan.SetOpTreeFinished(0);
    scan.SetOpTreeFinished(1);
    window.Pump();
    EXPECT_EQ(window.Count(kNormalScanValue), 1u);

    // The tree finished on another thread while a worker asked: never lost.
    for (int round = 0; round < 50; ++round) {
        scan.SetOpTreeFinished(0);
        std::thread worker([] { KXNotifyUIUpdateData(1); });
        scan.SetOpTreeFinished(1);
        worker.join();
        window.Pump();
        ASSERT_EQ(window.Count(kNormalScanValue), size_t(2 + round));
    }
}

}  // namespace
