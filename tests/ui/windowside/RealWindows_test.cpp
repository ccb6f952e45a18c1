// The real operations layer beside real windows: a quick scan of the FAT fixture as a USB stick
// posts on the default centre through the kit's queue, so a kit observer gets each delivery the fake
// window side records, on the main thread; one time source moves the kit's timers and the bridge's
// clock together; a held read keeps the scan where it is until the clock moves.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <set>
#include <thread>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/FATLib/FatTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/DiskReadHook.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"
#include "ui/kit/Scheduler.h"
#include "uisupport/RealWindows.h"

namespace {

using namespace std::chrono_literals;
using brelvox::foundation::NotificationCenter;
using testsupport::FakeWindowSide;
using ui_notification::kInitFinished;
using ui_notification::kNormalScanValue;

// The FAT fixture's disk with its FAT16 partition, the side beside real windows, enumerated.
struct StickScan {
    testsupport::TempDir dir;
    testsupport::UsbStick stick{dir / "kernel", fattest::Image("mbr-fat16"),
                                testsupport::UsbStick::Partition{.start = 2048, .sectors = 36864}};
    uitest::RealWindows windows;
    FakeWindowSide side{{.devices = stick.Devices(), .realWindows = windows.loop()}};
    const DiskVolumeNodeData* volume = nullptr;
    DiskVolumeNodeData::Rows rows;

    StickScan() {
        side.Controller().NotifiyDeviceInfoAfterInit(kInitFinished);
        EXPECT_TRUE(side.RunUntil([&] { return side.Count(kInitFinished) == 1; }));
        side.Controller().GetDeviceInfoToArray(&rows);
        if (rows.size() == 1 && rows[0]->children() && rows[0]->children()->size() == 1)
            volume = rows[0]->children()->front().get();
    }
    bool Start() {
        side.Controller().initFileType();
        side.Controller().SetRecoveryType(127);
        return volume && side.Controller().DoScanWithData(volume, kNormalScanValue);
    }
};

bool OnMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

size_t DeletedFilesOfTheFixture() {
    size_t count = 0;
    for (const auto& e : fattest::FlsListing("mbr-fat16"))
        if (e.deleted && !e.directory) ++count;
    return count;
}

TEST(RealWindows, AKitObserverOfTheDefaultCentreGetsEveryDeliveryOfTheScanOnTheMainThread) {
    StickScan scan;
    ASSERT_NE(scan.volume, nullptr);
    EXPECT_EQ(&scan.side.Centre(), &NotificationCenter::Default());
    struct Seen {
        size_t count = 0;
        bool onMainThread = true;
        std::vector<double> percents;
    } seen;
    NotificationCenter::Default().AddObserver(&seen, kNormalScanValue, nullptr, [&](const auto&) {
        ++seen.count;
        seen.onMainThread = seen.onMainThread && OnMainThread();
        double percent = 0;
        scan.side.Controller().GetScanProgress(&percent, nullptr);
        seen.percents.push_back(percent);
    });
    ASSERT_TRUE(scan.Start());
    ASSERT_TRUE(scan.side.RunUntilScanEnds());
    NotificationCenter::Default().RemoveObserver(&seen);

    const auto deliveries = scan.side.Deliveries(kNormalScanValue);
    ASSERT_FALSE(deliveries.empty());
    EXPECT_EQ(seen.count, deliveries.size());
    EXPECT_TRUE(seen.onMainThread);
    // The last delivery comes after the scan's end: both read the same final state.
    ASSERT_FALSE(seen.percents.empty());
    EXPECT_DOUBLE_EQ(seen.percents.back(), 100.0);
    EXPECT_FALSE(deliveries.back().scanRunning);
    EXPECT_DOUBLE_EQ(deliveries.back().percent, 100.0);
    EXPECT_EQ(deliveries.back().scanCount, DeletedFilesOfTheFixture());
    EXPECT_EQ(scan.windows.pending(), 0u);
}

TEST(RealWindows, OneAdvanceFiresAKitTimerAtItsTimeOnTheBridgesClockThenWakesABridgeSleeper) {
    testsupport::TempDir dir;
    testsupport::FakeKernelTree none(dir / "kernel");
    uitest::RealWindows windows;
    KXUIDeviceData::Config devices;
    devices.roots = none.Roots();
    FakeWindowSide side({.devices = devices, .realWindows = windows.loop()});
    std::vector<std::string> order;
    std::atomic<bool> woke{false};
    IClock::TimePoint bridgeAtTimer{};
    const auto timer = kit::Scheduler::current().scheduledTimer(1.5, false, [&](kit::Timer&) {
        bridgeAtTimer = BridgeClock().Now();
        order.push_back(woke ? "timer after the sleeper" : "timer");
    });
    const auto later = kit::Scheduler::current().scheduledTimer(2.5, false, [&](kit::Timer&) { order.push_back("2.5 s"); });
    const IClock::TimePoint start = BridgeClock().Now();
    std::thread sleeper([&] {
        BridgeClock().SleepFor(2000ms);
        woke = true;
    });
    // The sleeper waits on the bridge's clock before the clocks move.
    while (side.Clock()->Sleepers() == 0) std::this_thread::yield();

    side.Advance(2000ms);
    sleeper.join();
    EXPECT_EQ(order, std::vector<std::string>{"timer"});
    EXPECT_EQ(bridgeAtTimer - start, 1500ms);
    EXPECT_TRUE(woke);
    EXPECT_EQ(BridgeClock().Now() - start, 2000ms);
    EXPECT_DOUBLE_EQ(windows.clock().now(), 2.0);
    side.Advance(500ms);
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "2.5 s"}));
    timer->invalidate();
    later->invalidate();
}

TEST(RealWindows, AHeldReadKeepsTheScanWhereItIsUntilTheClockMoves) {
    StickScan scan;
    ASSERT_NE(scan.volume, nullptr);
    testsupport::DiskReadHook hook(scan.dir / "kernel", *scan.side.Clock());
    hook.HoldReads(10s);
    ASSERT_TRUE(scan.Start());
    ASSERT_TRUE(scan.side.RunUntil([&] { return hook.HeldNow() == 1; }));
    const size_t seen = hook.ReadsSeen();
    double held = -1;
    u64 files = 0;
    scan.side.Controller().GetScanProgress(&held, &files);
    // The loop turns, the clocks stand: nothing moves on.
    for (int turn = 0; turn < 200; ++turn) {
        scan.side.Pump();
        std::this_thread::sleep_for(1ms);
        double percent = -1;
        u64 now = 0;
        scan.side.Controller().GetScanProgress(&percent, &now);
        ASSERT_EQ(percent, held) << "turn " << turn;
        ASSERT_EQ(now, files);
        ASSERT_EQ(hook.HeldNow(), 1u);
        ASSERT_EQ(hook.ReadsSeen(), seen);
        ASSERT_TRUE(scan.side.Controller().IsScanRunning());
    }
    // The clock moves: the held read goes on, and the scan with it.
    scan.side.Advance(10s);
    const auto moved = [&] { return hook.ReadsSeen() > seen || !KXUIController::IsScanWorkerAlive(); };
    for (int i = 0; i < 60000 && !moved(); ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(moved());
    hook.StopHolding();
    ASSERT_TRUE(scan.side.RunUntilScanEnds());
    EXPECT_DOUBLE_EQ(scan.side.Last(kNormalScanValue).percent, 100.0);
    EXPECT_EQ(scan.side.Last(kNormalScanValue).scanCount, DeletedFilesOfTheFixture());
}

}  // namespace
