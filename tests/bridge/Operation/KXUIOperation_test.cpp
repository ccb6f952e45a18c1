#include "bridge/Operation/KXUIOperation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "support/Wait.h"

namespace {

using std::chrono::milliseconds;
using testsupport::WaitUntil;

// The smallest concrete operation: the common UpdateProgress core, a finished record ends the task,
// and the op-tree flag kept as the scan keeps it. Counts the pause steps taken in Continued().
class TestOperation : public KXUIOperation {
public:
    int UpdateProgress(_PROGRESS_INFO* record) override {
        if (!TakeProgressRecord(record)) return 0;
        if (record->status == PROGRESS_FINISHED) SetStatus(OP_IDLE);
        SetNeedUIUpdate(1);
        return 0;
    }
    void WaitOnePauseStep() override {
        ++pauseSteps;
        KXUIOperation::WaitOnePauseStep();
    }
    int IsOpTreeFinished() override { return OpTreeFlag(); }
    void SetOpTreeFinished(int finished) override { SetOpTreeFlag(finished); }

    // Waits until the engine thread waits inside Continued() for the pause to end: it has taken a pause
    // step since this call. The engine runs on one thread, so what it did before (a record sent) is over.
    bool WaitForEngineToBlock() {
        int before = pauseSteps.load();
        return WaitUntil([&] { return pauseSteps.load() > before; });
    }

    std::atomic<int> pauseSteps{0};
};

// A slow fake engine: one progress step per millisecond while Continued() allows, then the finished
// record, as the recovery controllers do.
class FakeEngine {
public:
    explicit FakeEngine(KXUIOperation& op) : m_op(op) {
        op.SetStatus(OP_RUNNING);
        m_done = std::async(std::launch::async, [this] { Run(); });
    }
    ~FakeEngine() {
        m_op.StopOperation(1);
        m_done.wait();
    }
    // True when the engine returned within the limit.
    bool WaitForEnd(milliseconds limit) { return m_done.wait_for(limit) == std::future_status::ready; }
    u64 Current() { return m_op.GetProgressInfo().current; }

private:
    void Run() {
        for (u64 step = 1; m_op.Continued(); ++step) {
            _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, 1000000, step);
            m_op.UpdateProgress(&record);
            std::this_thread::sleep_for(milliseconds(1));
        }
        _PROGRESS_INFO finished = MakeProgressInfo(PROGRESS_FINISHED, 1000000, 1000000);
        m_op.UpdateProgress(&finished);
    }

    KXUIOperation& m_op;
    std::future<void> m_done;
};

TEST(KXUIOperation, PauseFreezesProgressAndResumeContinuesWithinAStep) {
    TestOperation op;
    ASSERT_EQ(op.PauseStep(), milliseconds(80));
    FakeEngine engine(op);
    ASSERT_TRUE(WaitUntil([&] { return engine.Current() >= 3; }));

    op.PauseOrResumeOperation();
    EXPECT_EQ(op.GetStatus(), OP_PAUSED);
    // The engine reaches its next Continued() and waits there.
    ASSERT_TRUE(op.WaitForEngineToBlock());
    u64 frozen = engine.Current();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(engine.Current(), frozen);
    // It kept looking, one step at a time: about 300 ms / 80 ms steps.
    EXPECT_GE(op.pauseSteps.load(), 2);

    op.PauseOrResumeOperation();
    const int stepsAtResume = op.pauseSteps.load();
    EXPECT_EQ(op.GetStatus(), OP_RUNNING);
    ASSERT_TRUE(WaitUntil([&] { return engine.Current() > frozen; }));
    // Resumed within the step it was in: at most one more pause step begins before the engine moves
    // on, however long a loaded machine makes the step.
    EXPECT_LE(op.pauseSteps.load(), stepsAtResume + 1);
}

TEST(KXUIOperation, StopWhilePausedEndsTheWaitAndKeepsTheTreeWhenAsked) {
    TestOperation op;
    FakeEngine engine(op);
    ASSERT_TRUE(WaitUntil([&] { return engine.Current() >= 1; }));
    op.PauseOrResumeOperation();
    ASSERT_TRUE(op.WaitForEngineToBlock());

    op.StopOperation(0);
    const int stepsAtStop = op.pauseSteps.load();
    ASSERT_TRUE(engine.WaitForEnd(milliseconds(5000)));
    // The stop ends the wait within the step it was in.
    EXPECT_LE(op.pauseSteps.load(), stepsAtStop + 1);
    // The finished record that followed the stop returned the operation to idle.
    EXPECT_EQ(op.GetStatus(), OP_IDLE);
    EXPECT_EQ(op.GetProgressInfo().status, PROGRESS_FINISHED);
    EXPECT_EQ(op.shouldBuild(), 1);
    EXPECT_EQ(op.IsNeedUIUpdate(), 1u);
}

TEST(KXUIOperation, PausedContinuedLooksAgainEveryStepUntilAStop) {
    TestOperation op;
    op.SetPauseStep(milliseconds(2));
    op.SetStatus(OP_PAUSED);
    auto answer = std::async(std::launch::async, [&] { return op.Continued(); });
    ASSERT_TRUE(WaitUntil([&] { return op.pauseSteps.load() >= 5; }));
    EXPECT_EQ(answer.wait_for(milliseconds(0)), std::future_status::timeout);
    op.StopOperation(1);
    ASSERT_EQ(answer.wait_for(milliseconds(5000)), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0);
    EXPECT_EQ(op.shouldBuild(), 0);
}

TEST(KXUIOperation, StatusTables) {
    struct Case {
        u32 status;
        int continued;
        bool exited;
        u32 afterPauseOrResume;
    } cases[] = {
        {OP_IDLE, 0, true, OP_IDLE},       {OP_STOP_REQUESTED, 0, false, OP_STOP_REQUESTED},
        {OP_RUNNING, 1, false, OP_PAUSED}, {OP_PAUSED, -1, false, OP_RUNNING},  // Continued() would wait: covered above
        {OP_EXITED, 0, true, OP_EXITED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        TestOperation op;
        op.SetStatus(static_cast<int>(c.status));
        if (c.continued >= 0) {
            EXPECT_EQ(op.Continued(), c.continued);
        }
        EXPECT_EQ(op.IsOperationExit(), c.exited);
        op.PauseOrResumeOperation();
        EXPECT_EQ(op.GetStatus(), c.afterPauseOrResume);
    }
}

TEST(KXUIOperation, StopOperationTable) {
    struct Case {
        u32 status;
        int discard;
        int buildBefore;
        u32 statusAfter;
        int buildAfter;
    } cases[] = {
        {OP_RUNNING, 0, 1, OP_STOP_REQUESTED, 1},
        {OP_RUNNING, 1, 1, OP_STOP_REQUESTED, 0},
        {OP_PAUSED, 0, 0, OP_STOP_REQUESTED, 1},
        {OP_PAUSED, 1, 1, OP_STOP_REQUESTED, 0},
        {OP_STOP_REQUESTED, 1, 1, OP_STOP_REQUESTED, 0},
        // An idle operation stays idle and keeps its answer.
        {OP_IDLE, 1, 1, OP_IDLE, 1},
        {OP_IDLE, 0, 0, OP_IDLE, 0},
        // So does an exited one: a late stop must not make it look alive again.
        {OP_EXITED, 1, 1, OP_EXITED, 1},
        {OP_EXITED, 0, 0, OP_EXITED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.status << " discard " << c.discard);
        TestOperation op;
        op.SetStatus(static_cast<int>(c.status));
        op.SetShouldBuildTree(c.buildBefore);
        op.StopOperation(c.discard);
        EXPECT_EQ(op.GetStatus(), c.statusAfter);
        EXPECT_EQ(op.shouldBuild(), c.buildAfter);
        EXPECT_EQ(op.IsNeedUIUpdate(), 1u);
        EXPECT_EQ(op.IsOperationExit(), c.statusAfter == OP_IDLE || c.statusAfter == OP_EXITED);
    }
}

TEST(KXUIOperation, ProgressRecordIsCopiedWholeAndNullIsIgnored) {
    TestOperation op;
    EXPECT_EQ(op.shouldBuild(), 1);
    EXPECT_EQ(op.IsNeedUIUpdate(), 0u);
    EXPECT_EQ(op.GetScanElapseTime(), 0);

    EXPECT_EQ(op.UpdateProgress(nullptr), 0);
    EXPECT_EQ(op.IsNeedUIUpdate(), 0u);
    EXPECT_EQ(op.GetScanElapseTime(), 0);
    _PROGRESS_INFO empty{};
    _PROGRESS_INFO now = op.GetProgressInfo();
    EXPECT_EQ(std::memcmp(&now, &empty, sizeof(now)), 0);

    // Every byte travels, the reserved area included.
    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, 77, 33, 0x010d004b00000d03LL);
    for (size_t i = 0; i < sizeof(record.detail); ++i) record.detail[i] = static_cast<char>(i * 7);
    const time_t started = time(nullptr) - 5;
    op.SetStartTime(started);
    op.SetStatus(OP_RUNNING);
    EXPECT_EQ(op.UpdateProgress(&record), 0);
    now = op.GetProgressInfo();
    EXPECT_EQ(std::memcmp(&now, &record, sizeof(now)), 0);
    EXPECT_EQ(op.IsNeedUIUpdate(), 1u);
    EXPECT_GE(op.GetScanElapseTime(), 5);
    // No more than the seconds that really passed since the start, however slow the machine.
    EXPECT_LE(op.GetScanElapseTime(), time(nullptr) - started);

    _PROGRESS_INFO finished = MakeProgressInfo(PROGRESS_FINISHED, 77, 77);
    op.UpdateProgress(&finished);
    EXPECT_EQ(op.GetStatus(), OP_IDLE);
}

TEST(KXUIOperation, OpTreeFlagOfTheBaseAndOfAnOperationThatKeepsOne) {
    struct Plain : KXUIOperation {
        int UpdateProgress(_PROGRESS_INFO*) override { return 0; }
    } plain;
    plain.SetOpTreeFinished(0);
    EXPECT_EQ(plain.IsOpTreeFinished(), 1);

    // Toggled by a worker while a poll thread reads it (the thread-sanitizer build checks the race).
    TestOperation op;
    EXPECT_EQ(op.IsOpTreeFinished(), 1);
    std::atomic<bool> done{false};
    std::thread poll([&] {
        while (!done.load()) (void)op.IsOpTreeFinished();
    });
    for (int i = 0; i < 10000; ++i) op.SetOpTreeFinished(i & 1);
    done = true;
    poll.join();
    EXPECT_EQ(op.IsOpTreeFinished(), 1);
}

}  // namespace
