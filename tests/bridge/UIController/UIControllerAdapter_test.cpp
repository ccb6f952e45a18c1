// The calls the windows gained on the seam, through the application's adapter over the operations
// layer: each answers what the layer holds, and the scripted fake answers what a test sets.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UIControllerAdapter.h"
#include "support/FakeUIController.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

class UIControllerAdapterTest : public testing::Test {
protected:
    void SetUp() override { testsupport::ResetOperations(); }
    void TearDown() override { testsupport::ResetOperations(); }
    UIControllerAdapter adapter;
};

TEST_F(UIControllerAdapterTest, ResettingTheTreeDataEmptiesTheWindowsArrays) {
    KXUIController::TreeArray path{OpNodeData::NewGroup(OPNODE_TYPE_TREE, "INSIDE", 1)};
    KXUIController::TreeArray type{OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Pictures", 1)};
    KXUIController::TreeArray created{OpNodeData::NewGroup(OPNODE_CREATE_DATE, "Created", 1)};
    KXUIController::TreeArray modified{OpNodeData::NewGroup(OPNODE_MODIFY_DATE, "Modified", 1)};
    const KXUIController::TreeArrays arrays{{KXUIController::kKeyNodePath, &path},
                                            {KXUIController::kKeyNodeType, &type},
                                            {KXUIController::kKeyNodeCreateTime, &created},
                                            {KXUIController::kKeyNodeModifyTime, &modified}};
    ASSERT_TRUE(adapter.KXSetTreeNodeData(&arrays));
    adapter.KXResetTreeNodeData();
    EXPECT_TRUE(path.empty());
    EXPECT_TRUE(type.empty());
    EXPECT_TRUE(created.empty());
    EXPECT_TRUE(modified.empty());
    EXPECT_EQ(KXUIController::PendingPathNodes(), 0u);
}

TEST_F(UIControllerAdapterTest, TheEdiFlagAndTheRecoveryPauseAreTheOperationsOwn) {
    KXUIScan& scan = KXUIScan::instance();
    scan.SetEdiRsf(1);
    EXPECT_TRUE(adapter.IsEdiRsf());
    scan.SetEdiRsf(0);
    EXPECT_FALSE(adapter.IsEdiRsf());

    KXUIRecovery& recovery = KXUIRecovery::instance();
    const std::pair<int, bool> statuses[] = {
        {OP_IDLE, false}, {OP_RUNNING, false}, {OP_PAUSED, true}, {OP_STOP_REQUESTED, false}};
    for (const auto& [status, paused] : statuses) {
        recovery.SetStatus(status);
        EXPECT_EQ(adapter.IsRecoveryPaused(), paused) << "status " << status;
        // A paused recovery still runs.
        if (paused) {
            EXPECT_TRUE(adapter.IsRecoveryRunning());
        }
    }
    recovery.SetStatus(OP_IDLE);
}

TEST_F(UIControllerAdapterTest, FreeSpaceIsWhatAnUnprivilegedWriterMayStillUse) {
    testsupport::TempDir dir;
    struct statvfs info {};
    ASSERT_EQ(::statvfs(dir.str().c_str(), &info), 0);
    u64 bytes = 1;
    ASSERT_TRUE(adapter.GetFreeSpace(dir.str(), &bytes));
    // Whole fragments, never more than the file system holds (others may write meanwhile).
    EXPECT_EQ(bytes % info.f_frsize, 0u);
    EXPECT_LE(bytes, u64(info.f_blocks) * info.f_frsize);

    // The product of the blocks free to users and the fragment size, saturated.
    EXPECT_EQ(UIControllerAdapter::FreeBytes(3, 4096), 12288u);
    EXPECT_EQ(UIControllerAdapter::FreeBytes(0, 4096), 0u);
    EXPECT_EQ(UIControllerAdapter::FreeBytes(u64(1) << 40, u64(1) << 30), ~u64(0));

    for (const std::string& path : {std::string(), dir.str() + "/missing/folder"}) {
        bytes = 1;
        EXPECT_FALSE(adapter.GetFreeSpace(path, &bytes)) << path;
        EXPECT_EQ(bytes, 0u) << path;
    }
    EXPECT_TRUE(adapter.GetFreeSpace(dir.str(), nullptr));
}

TEST_F(UIControllerAdapterTest, TheUpdateStampGoesToThePrivateDataOverlayAndTheNetworkIsNeverUsed) {
    const std::optional<std::string> before = adapter.getUpDataTimeStr();
    ASSERT_TRUE(adapter.writeUpDataTimeStr("2024-05-06 07:08:09"));
    EXPECT_EQ(adapter.getUpDataTimeStr(), std::optional<std::string>("2024-05-06 07:08:09"));
    ASSERT_TRUE(adapter.writeUpDataTimeStr(before.value_or("")));
    EXPECT_FALSE(adapter.isCanBeUseNetWork());
    EXPECT_EQ(adapter.getSystemVersion(), 1015);
}

TEST(FakeUIController, TheNewCallsAnswerAsScriptedAndAreRecorded) {
    testsupport::FakeUIController fake;
    u64 bytes = 7;
    EXPECT_FALSE(fake.GetFreeSpace("/dest", &bytes));
    EXPECT_EQ(bytes, 0u);
    fake.SetFreeSpace(1050);
    EXPECT_TRUE(fake.GetFreeSpace("/dest", &bytes));
    EXPECT_EQ(bytes, 1050u);

    EXPECT_FALSE(fake.IsEdiRsf());
    fake.SetEdiRsf(true);
    EXPECT_TRUE(fake.IsEdiRsf());

    testsupport::FakeUIController::RecoveryState state;
    state.running = true;
    fake.SetRecoveryState(state);
    EXPECT_FALSE(fake.IsRecoveryPaused());
    fake.PauseOrResumeRecovery();
    EXPECT_TRUE(fake.IsRecoveryPaused());
    fake.PauseOrResumeRecovery();
    EXPECT_FALSE(fake.IsRecoveryPaused());
    // Only a running recovery pauses.
    fake.SetRecoveryState({});
    fake.PauseOrResumeRecovery();
    EXPECT_FALSE(fake.IsRecoveryPaused());

    EXPECT_EQ(fake.getUpDataTimeStr(), std::nullopt);
    EXPECT_TRUE(fake.writeUpDataTimeStr("2024-05-06 07:08:09"));
    EXPECT_EQ(fake.getUpDataTimeStr(), std::optional<std::string>("2024-05-06 07:08:09"));
    EXPECT_FALSE(fake.isCanBeUseNetWork());
    fake.SetNetworkAnswer(true);
    EXPECT_TRUE(fake.isCanBeUseNetWork());
    EXPECT_TRUE(fake.CloseApp());
    fake.SetCloseAnswer(false);
    EXPECT_FALSE(fake.CloseApp());

    fake.KXResetTreeNodeData();
    EXPECT_EQ(fake.Calls().Calls("writeUpDataTimeStr").front(), "ui:writeUpDataTimeStr(2024-05-06 07:08:09)");
    EXPECT_EQ(fake.Calls().Calls("GetFreeSpace").size(), 2u);
    EXPECT_EQ(fake.Calls().Calls("GetFreeSpace").front(), "ui:GetFreeSpace(/dest)");
    EXPECT_EQ(fake.Calls().Calls("KXResetTreeNodeData").size(), 1u);
    EXPECT_EQ(fake.Calls().Calls("IsRecoveryPaused").size(), 4u);
    EXPECT_EQ(fake.Calls().Calls("IsEdiRsf").size(), 2u);
}

}  // namespace
