// The save and load progress: steps at most every 100 ticks, the bar held at 98 until the end, the
// final record carrying the error code, and the save operation returning to idle.
#include <gtest/gtest.h>

#include "bridge/SaveRestore/KXSaveAndRestoreNodeOperate.h"
#include "bridge/SaveRestore/SaveRestoreProgress.h"
#include "support/RecordingProgress.h"

using SaveRestoreResult::SaveRestoreProgress;
using testsupport::RecordingProgress;

namespace {

TEST(SaveRestoreProgress, StepsAreThrottledAndTheBarStaysAt98UntilFinished) {
    RecordingProgress sink;
    u32 now = 1000;
    SaveRestoreProgress progress(&sink, [&] { return now; });
    progress.Started();
    EXPECT_EQ(sink.Last().status, PROGRESS_RUNNING);
    EXPECT_EQ(sink.Last().current, 5u);
    progress.Step();  // the first step is due at once
    EXPECT_EQ(sink.Last().current, 6u);
    now += 99;
    progress.Step();  // too early: skipped, nothing sent
    EXPECT_EQ(sink.RecordCount(), 2u);
    for (int i = 0; i < 300; ++i) {
        now += 100;
        progress.Step();
        ASSERT_LE(sink.Last().current, 98u);
        ASSERT_EQ(sink.Last().status, PROGRESS_RUNNING);
    }
    EXPECT_EQ(sink.Last().current, 98u);
    progress.Finished();
    EXPECT_EQ(sink.Last().status, PROGRESS_FINISHED);
    EXPECT_EQ(sink.Last().current, 100u);
    EXPECT_EQ(sink.Last().errorCode, 0);
}

TEST(SaveRestoreProgress, AFailureKeepsItsCodeThroughLaterStepsAndTheEnd) {
    RecordingProgress sink;
    u32 now = 0;
    SaveRestoreProgress progress(&sink, [&] { return now; });
    progress.Started();
    for (int code = 1; code <= 8; ++code) {
        progress.TipError(code);
        EXPECT_EQ(sink.Last().status, PROGRESS_FINISHED);
        EXPECT_EQ(sink.Last().errorCode, code);
        now += 1000;
        progress.Step();
        progress.Finished();
        EXPECT_EQ(sink.Last().errorCode, code);
        EXPECT_EQ(progress.ErrorCode(), code);
    }
    // A new start clears the code.
    progress.Started();
    progress.Finished();
    EXPECT_EQ(sink.Last().errorCode, 0);
}

TEST(SaveRestoreProgress, TheSaveOperationReturnsToIdleOnTheFinishedRecord) {
    KXSaveAndRestoreNodeOperate& op = KXSaveAndRestoreNodeOperate::instance();
    EXPECT_EQ(&op, &KXSaveAndRestoreNodeOperate::instance());
    op.SetStatus(OP_RUNNING);
    op.SetNeedUIUpdate(0);
    SaveRestoreProgress progress(&op, [] { return 0u; });
    progress.Started();
    EXPECT_EQ(op.GetStatus(), OP_RUNNING);
    EXPECT_EQ(op.IsNeedUIUpdate(), 1u);
    EXPECT_EQ(op.Continued(), 1);
    progress.TipError(2);
    progress.Finished();
    EXPECT_EQ(op.GetStatus(), OP_IDLE);
    EXPECT_EQ(op.GetProgressInfo().errorCode, 2);
    EXPECT_EQ(op.Continued(), 1);  // a save is never stopped by the windows
    EXPECT_EQ(op.UpdateProgress(nullptr), 0);
}

}  // namespace
