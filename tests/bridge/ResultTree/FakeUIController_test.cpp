// The scripted controller that window tests drive: steps change state and progress and post on the
// main-thread queue, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/FakeUIController.h"

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PumpedMainThreadQueue;
using testsupport::FakeUIController;

namespace {

TEST(FakeUIController, StepsChangeStateAndPostOnTheMainThread) {
    PumpedMainThreadQueue mainThread;
    NotificationCenter centre;
    centre.SetMainThreadQueue(&mainThread);
    FakeUIController ui(&centre);

    std::vector<std::string> seen;
    centre.AddObserver(&seen, "", nullptr, [&](const Notification& n) {
        double percent = 0;
        u64 files = 0;
        ui.GetScanProgress(&percent, &files);
        seen.push_back(n.name + " " + std::to_string(static_cast<int>(percent)) + "% " + std::to_string(files) +
                       (ui.IsScanRunning() ? " running" : " idle"));
    });
    ui.AddStep({true, false, FakeUIController::Progress{30, 12, "00:01:00"}, {ui_notification::kNormalScanValue}, {}});
    ui.AddStep({false, false, FakeUIController::Progress{100, 40, "-:-:-"},
                {ui_notification::kNormalScanValue, ui_notification::kDoSearchFinished}, {}});

    ASSERT_TRUE(ui.PlayNextStep());
    EXPECT_TRUE(seen.empty()) << "posts wait for the main thread";
    mainThread.Pump();
    ASSERT_TRUE(ui.PlayNextStep());
    mainThread.Pump();
    EXPECT_FALSE(ui.PlayNextStep());
    EXPECT_EQ(seen, (std::vector<std::string>{"NormalScranValue 30% 12 running", "NormalScranValue 100% 40 idle",
                                              "DoSearchFinished 100% 40 idle"}));
    EXPECT_EQ(ui.Calls().Calls("IsScanRunning").size(), 3u);
    EXPECT_EQ(ui.Calls().Calls("post").size(), 3u);
    centre.RemoveObserver(&seen);
}

}  // namespace
