// Scan control with the engine's own deep scan over a fake disk whose reads are slowed: pause holds
// the position, resume goes on, stop ends quickly; a re-enumeration during a scan frees nothing the
// worker still reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "ScanTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"

namespace {

using namespace scantest;
using std::chrono::milliseconds;
using testsupport::FakeReadControl;
using testsupport::FakeWindowSide;
using ui_notification::kNormalScanValue;

constexpr i64 k256MiB = 256 * 2048;  // sectors

u64 Position() {
    return KXUIScan::instance().GetProgressInfo().current;
}

// A window side over one 256 MiB USB disk whose reads each take delay.
struct SlowDisk {
    explicit SlowDisk(int delayMs) {
        control->delayMs = delayMs;
        FakeWindowSide::Options options;
        options.devices = Devices({UsbDisk({Volume("DATA", "sdb1", FILE_SYSTEM_UNKNOWN)}, k256MiB)}, control);
        options.fakeClock = false;
        window = std::make_unique<FakeWindowSide>(std::move(options));
        EXPECT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    }
    bool StartDeepScanOfTheDisk() {
        KXUIScan::instance().SetDeepScan(1);
        return window->Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue);
    }
    std::shared_ptr<FakeReadControl> control = std::make_shared<FakeReadControl>();
    std::unique_ptr<FakeWindowSide> window;
};

TEST(ScanEngine, PauseHoldsThePositionResumeGoesOnStopEndsQuickly) {
    SlowDisk disk(15);
    FakeWindowSide& window = *disk.window;
    IUIController& ui = window.Controller();
    double percent = 0;
    window.When(
        [&] {
            ui.GetScanProgress(&percent, nullptr);
            return percent >= 30;
        },
        [&] { ui.PauseOrResumeScan(); }, "pause at 30 %");
    ASSERT_TRUE(disk.StartDeepScanOfTheDisk());
    ASSERT_TRUE(window.RunUntil([&] { return ui.IsPause(); }));
    EXPECT_EQ(window.ScriptLog(), std::vector<std::string>{"pause at 30 %"});
    EXPECT_LT(percent, 45.0);
    EXPECT_FALSE(ui.DoScanWithDiskIndex(0, -1, kNormalScanValue)) << "a paused scan is not replaced";
    EXPECT_TRUE(ui.IsScanRunning());
    // A block under way may still end; then nothing moves.
    window.RunUntil([] { return false; }, milliseconds(100));
    const u64 held = Position();
    window.RunUntil([] { return false; }, milliseconds(300));
    EXPECT_EQ(Position(), held) << "paused for 300 ms";

    ui.PauseOrResumeScan();
    EXPECT_FALSE(ui.IsPause());
    ASSERT_TRUE(window.RunUntil([&] { return Position() > held; })) << "the scan goes on after the resume";

    // A stop ends the scan at its next block: while it still runs, the position moves by at most the
    // block under way and the one the searchers may have taken as the stop came (0.8 a block each).
    // The read-ahead serves at most its queue of requests made before, never the disk to its end.
    const u64 atStop = Position();
    ui.StopScan(1);
    u64 furthest = atStop;
    ASSERT_TRUE(window.RunUntil([&] {
        if (!ui.IsScanRunning()) return true;
        furthest = std::max(furthest, Position());
        return false;
    }));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_LE(furthest, atStop + 2) << "a stop ends the scan at its next block";
    EXPECT_LT(disk.control->reads.load(), k256MiB / 8192) << "it did not run to the end";
    EXPECT_FALSE(window.Last(kNormalScanValue).scanRunning);
}

TEST(ScanEngine, AStopWhilePausedEndsTheScan) {
    SlowDisk disk(15);
    FakeWindowSide& window = *disk.window;
    ASSERT_TRUE(disk.StartDeepScanOfTheDisk());
    ASSERT_TRUE(window.RunUntil([] { return Position() >= 2; }));
    window.Controller().PauseOrResumeScan();
    window.RunUntil([] { return false; }, milliseconds(50));
    ASSERT_TRUE(window.Controller().IsPause());
    // No resume comes: the stop alone ends the scan, before it reads the disk to its end (the
    // read-ahead reads at most its queue of blocks while the scan holds).
    window.Controller().StopScan(0);
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_FALSE(window.Controller().IsScanRunning());
    EXPECT_FALSE(window.Last(kNormalScanValue).scanRunning);
    EXPECT_LT(disk.control->reads.load(), k256MiB / 8192) << "it did not run to the end";
}

TEST(ScanEngine, ReEnumeratingDuringAScanStopsItFirstAndFreesNothingItReads) {
    SlowDisk disk(10);
    FakeWindowSide& window = *disk.window;
    ASSERT_TRUE(disk.StartDeepScanOfTheDisk());
    ASSERT_TRUE(window.RunUntil([] { return Position() >= 2; }));
    const int alive = testsupport::FakeEnumDevice::Alive();
    ASSERT_TRUE(window.Controller().RefreshDeviceInfo());
    EXPECT_FALSE(KXUIController::IsScanWorkerAlive()) << "the worker returned before the model changed";
    EXPECT_EQ(KXUIScan::instance().GetSavedStorage(), nullptr);
    EXPECT_EQ(KXUIDeviceData::instance().RetiredCount(), 1u) << "the scanned devices are kept for its results";
    EXPECT_EQ(testsupport::FakeEnumDevice::Alive(), alive + 1);
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    EXPECT_EQ(rows.size(), 1u);

    // The next scan releases them, and reads the new devices.
    ASSERT_TRUE(disk.StartDeepScanOfTheDisk());
    ASSERT_TRUE(window.RunUntil([] { return Position() >= 1; }));
    window.Controller().StopScan(1);
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(KXUIDeviceData::instance().RetiredCount(), 0u);
    EXPECT_EQ(testsupport::FakeEnumDevice::Alive(), alive);
}

TEST(ScanEngine, AWorkerThatNeverReturnsKeepsTheModelAsItIs) {
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> opened = gate->get_future().share();
    testsupport::CallLog log;
    testsupport::FakeRecoveryController::Config controller;
    controller.onStart = [opened](IProgress*) { opened.wait(); };
    FakeWindowSide::Options options;
    options.devices = Devices({UsbDisk({Volume("STICK", "sdb1")})});
    options.controllers = testsupport::FakeControllerFactory(controller, &log);
    FakeWindowSide window(std::move(options));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntil([&] { return !log.Calls("StartDataRecovery").empty(); }));

    IStorageDevice* scanned = KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0);
    auto refresh = std::async(std::launch::async, [&] { return window.Controller().RefreshDeviceInfo(); });
    // Thirty seconds pass on the window side's clock.
    for (int i = 0; i < 40 && refresh.wait_for(milliseconds(0)) != std::future_status::ready; ++i) {
        window.Clock()->Advance(std::chrono::seconds(1));
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_EQ(refresh.wait_for(milliseconds(5000)), std::future_status::ready);
    EXPECT_FALSE(refresh.get()) << "the worker never returned";
    EXPECT_EQ(KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0), scanned) << "nothing re-enumerated";
    EXPECT_EQ(KXUIDeviceData::instance().RetiredCount(), 0u);
    gate->set_value();
    ASSERT_TRUE(window.RunUntilScanEnds());
}

}  // namespace
