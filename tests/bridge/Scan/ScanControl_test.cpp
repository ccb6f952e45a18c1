// Scans started, paused, stopped and refused through the controller, with fake controllers and fake
// disks; what the windows receive; the whole-disk quick loop; the remaining time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "ScanTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Notify/CMyNotifyCenter.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/MessageCenter.h"
#include "engine/Utility/IFilesystemNode.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"

namespace {

using namespace scantest;
using std::chrono::milliseconds;
using testsupport::CallLog;
using testsupport::FakeControllerFactory;
using testsupport::FakeRecoveryController;
using testsupport::FakeWindowSide;
using ui_notification::kNormalScanValue;

constexpr u8 kEfi[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11, 0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};

FakeWindowSide::Options Options(std::vector<FakeEnumDevice::Disk> disks, FakeRecoveryController::Config controller,
                                CallLog* log) {
    FakeWindowSide::Options options;
    options.devices = Devices(std::move(disks));
    options.controllers = FakeControllerFactory(std::move(controller), log);
    return options;
}

std::vector<std::string> Names(const std::vector<IFileNode*>& nodes) {
    std::vector<std::string> names;
    for (IFileNode* node : nodes) names.emplace_back(node->GetFileName() ? node->GetFileName() : "");
    return names;
}

size_t Lines(CallLog& log, const std::string& line) {
    const auto all = log.Lines();
    return size_t(std::count(all.begin(), all.end(), line));
}

TEST(ScanControl, AQuickScanFromTheDeviceRowToTheLastRefresh) {
    CallLog log;
    auto tree = FoundFiles();
    FakeWindowSide window(Options({UsbDisk({Volume("STICK", "sdb1")})}, {.blocks = 4, .tree = tree}, &log));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_NE(rows[0]->children(), nullptr);
    const DiskVolumeNodeData* volume = rows[0]->children()->front().get();

    EXPECT_FALSE(window.Controller().DoScanWithData(nullptr, kNormalScanValue));
    ASSERT_TRUE(window.Controller().DoScanWithData(volume, kNormalScanValue));
    EXPECT_TRUE(window.Controller().IsScanRunning());
    ASSERT_TRUE(window.RunUntilScanEnds());

    EXPECT_EQ(log.Calls("type=0").size(), 1u) << "a quick scan of a volume: the deleted-file controller";
    EXPECT_EQ(Lines(log, "controller:shouldBuild=1"), 1u);
    const auto last = window.Last(kNormalScanValue);
    EXPECT_FALSE(last.scanRunning);
    EXPECT_DOUBLE_EQ(last.percent, 100.0);
    EXPECT_EQ(last.files, 5u);
    EXPECT_EQ(last.scanCount, 5u);
    EXPECT_EQ(last.scanSize, 150000u + 90000 + 30000 + 1200 + 10);
    EXPECT_FALSE(window.Controller().IsDeepScan());

    KXUIScan& scan = KXUIScan::instance();
    size_t typed = 0;
    for (const auto& [category, nodes] : scan.GetTypeMap()) {
        for (IFileNode* node : nodes) EXPECT_FALSE(node->IsDirectory()) << "folders are never filed by type";
        typed += nodes.size();
    }
    EXPECT_EQ(typed, 5u);
    size_t created = 0;
    for (const auto& [year, months] : scan.GetCreateTimeMap())
        for (const auto& [month, nodes] : months) created += nodes.size();
    EXPECT_EQ(created, 4u) << "a file with creation time 0 enters no month";
    EXPECT_EQ(scan.GetCreateTimeMap().at(2019).at(7).size(), 2u);
    EXPECT_EQ(scan.GetModifyTimeMap().at(2021).at(3).size(), 3u);

    const auto fresh = Names(scan.KXGetNewPathNode());
    EXPECT_EQ(fresh.front(), "") << "the partition root comes first";
    EXPECT_EQ(std::vector<std::string>(fresh.begin() + 1, fresh.end()),
              (std::vector<std::string>{"DCIM", "Docs", "old"}));
    EXPECT_TRUE(scan.KXGetNewPathNode().empty()) << "drained";
    EXPECT_EQ(scan.KXGetAllPathNode().size(), 4u);
    EXPECT_NE(scan.GetFileNodeDataRecover(tree->Node("Docs/report.doc")), nullptr)
        << "a quick scan keeps the data-recovery object of its root";

    // Searches by name over the indexes: matching files shown and listed, the others hidden.
    std::vector<IFileNode*> found;
    scan.SetSearchKey("img_");
    scan.DoSearch(found);
    EXPECT_EQ(Names(found), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG"}));
    EXPECT_FALSE(tree->Node("Docs/report.doc")->IsNodeShow());
    scan.SetSearchKey("");
    scan.DoSearch(found);
    EXPECT_EQ(found.size(), 5u) << "no key: every file again";
    EXPECT_TRUE(tree->Node("Docs/report.doc")->IsNodeShow());
    EXPECT_TRUE(scan.FindRemoveData(tree->Node("DCIM"))) << "a folder always answers true";
    EXPECT_FALSE(scan.FindRemoveData(tree->Node("timeless.bin")));
}

TEST(ScanControl, AStartIsRefusedUntilTheOldWorkerHasReturned) {
    CallLog log;
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> opened = gate->get_future().share();
    std::atomic<int> starts{0};
    FakeRecoveryController::Config controller{.blocks = 3, .blockMs = 1};
    // The first scan's engine ignores the stop until the gate opens.
    controller.onStart = [&, opened](IProgress*) {
        if (starts.fetch_add(1) == 0) opened.wait();
    };
    FakeWindowSide window(Options({UsbDisk({Volume("STICK", "sdb1")})}, controller, &log));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    IUIController& ui = window.Controller();

    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    EXPECT_FALSE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue)) << "never two workers";
    ASSERT_TRUE(window.RunUntil([&] { return starts.load() == 1; }));
    ui.StopScan(0);
    EXPECT_TRUE(ui.IsScanRunning()) << "asked to stop";
    window.RunUntil([] { return false; }, milliseconds(300));
    EXPECT_FALSE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue)) << "the stopped worker is still inside the engine";
    EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_STOP_REQUESTED));

    gate->set_value();
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(Lines(log, "controller:shouldBuild=1"), 1u) << "a stop that keeps what was found";
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    EXPECT_FALSE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(starts.load(), 2) << "started once";
}

TEST(ScanControl, AStopWithoutTheTreeAndTheStopOfAnIdleScan) {
    CallLog log;
    FakeRecoveryController::Config controller{.blocks = 1000, .blockMs = 1};
    FakeWindowSide window(Options({UsbDisk({Volume("STICK", "sdb1")})}, controller, &log));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    IUIController& ui = window.Controller();
    ui.StopScan(1);
    EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_IDLE)) << "an idle scan stays idle";
    EXPECT_EQ(KXUIScan::instance().shouldBuild(), 1);

    window.When([] { return KXUIScan::instance().GetProgressInfo().current >= 10; }, [&] { ui.StopScan(1); }, "stop");
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(window.ScriptLog(), std::vector<std::string>{"stop"});
    EXPECT_EQ(Lines(log, "controller:shouldBuild=0"), 1u);
    ui.ResetShouldBuild();
    EXPECT_EQ(KXUIScan::instance().shouldBuild(), 1);
    EXPECT_FALSE(window.Last(kNormalScanValue).scanRunning);
}

TEST(ScanControl, AFailedStartLeavesTheScanIdle) {
    CallLog log;
    FakeWindowSide::Options options = Options({UsbDisk({Volume("STICK", "sdb1")})}, {}, &log);
    // No controller can be made: the scan ends before it began.
    options.controllers = [&](_RECOVERY_CONTROLLER_TYPE type) -> IRecoveryController* {
        log.Add("factory:type=" + std::to_string(int(type)));
        return nullptr;
    };
    FakeWindowSide window(std::move(options));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    IUIController& ui = window.Controller();
    EXPECT_FALSE(ui.DoScanWithDiskIndex(5, -1, kNormalScanValue));
    EXPECT_FALSE(ui.DoScanWithDiskIndex(0, 3, kNormalScanValue));
    EXPECT_FALSE(ui.DoScanWithDiskIndex(-1, 0, kNormalScanValue));
    EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_IDLE));
    EXPECT_FALSE(ui.IsScanRunning());

    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_IDLE));
    EXPECT_GE(window.Count(kNormalScanValue), 1u) << "the end is posted";
    EXPECT_FALSE(window.Last(kNormalScanValue).scanRunning);
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, kNormalScanValue)) << "and the next start is accepted";
    ASSERT_TRUE(window.RunUntilScanEnds());
}

TEST(ScanControl, AWholeDiskQuickScanGoesThroughItsSupportedVolumes) {
    // Status after each volume's finished record: running while volumes remain, idle after the last.
    {
        CallLog log;
        FakeWindowSide window(Options({UsbDisk({Volume("A", "sdb1"), Volume("B", "sdb2"), Volume("C", "sdb3")})},
                                      {.blocks = 2}, &log));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue));
        ASSERT_TRUE(window.RunUntilScanEnds());
        EXPECT_EQ(log.Calls("StartDataRecovery").size(), 3u);
        const auto statuses = log.Calls("status after finish=2");
        EXPECT_EQ(statuses.size(), 2u);
        EXPECT_EQ(Lines(log, "controller:status after finish=0"), 1u);
        EXPECT_EQ(KXUIScan::instance().GetRemainingVolumes(), 0);
    }
    // A stop during the second volume: the third never starts.
    {
        CallLog log;
        FakeWindowSide window(Options({UsbDisk({Volume("A", "sdb1"), Volume("B", "sdb2"), Volume("C", "sdb3")})},
                                      {.blocks = 400, .blockMs = 1}, &log));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        window.When([&] { return log.Calls("StartDataRecovery").size() == 2; },
                    [&] { window.Controller().StopScan(0); }, "stop");
        ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue));
        ASSERT_TRUE(window.RunUntilScanEnds());
        EXPECT_EQ(log.Calls("StartDataRecovery").size(), 2u);
        EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_IDLE));
    }
    // No supported volume: nothing runs, the scan ends idle.
    {
        CallLog log;
        FakeEnumDevice::Volume efi = Volume("EFI", "sdb1");
        std::memcpy(efi.typeGuid, kEfi, 16);
        FakeEnumDevice::Disk disk = UsbDisk({efi, efi});
        disk.scheme = 2;
        FakeWindowSide window(Options({disk}, {}, &log));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue));
        ASSERT_TRUE(window.RunUntilScanEnds());
        EXPECT_TRUE(log.Calls("StartDataRecovery").empty());
        EXPECT_FALSE(window.Last(kNormalScanValue).scanRunning);
    }
}

TEST(ScanControl, AVolumeOfUnknownFileSystemIsScannedDeep) {
    CallLog log;
    FakeWindowSide window(Options({UsbDisk({Volume("RAW", "sdb1", FILE_SYSTEM_UNKNOWN)})}, {}, &log));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(log.Calls("type=1").size(), 1u);
    EXPECT_TRUE(window.Controller().IsDeepScan());

    // A deep scan of the same device again, from the last scan; a deep disk scan is the partition kind.
    log.Clear();
    ASSERT_TRUE(window.Controller().DoDeepScan(kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(log.Calls("type=1").size(), 1u);
    log.Clear();
    ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue));  // the deep flag stays
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_EQ(log.Calls("type=2").size(), 1u);
}

TEST(ScanControl, TheRemainingTime) {
    struct Case {
        const char* label;
        i64 elapsed;
        u64 total;
        u64 current;
        const char* text;
    };
    const Case cases[] = {
        {"10 %: halved", 100, 1000, 100, "00:07:30"},      // 100 * 900 / 100 = 900 s, x0.5
        {"30 %: times 0.7", 300, 1000, 300, "00:08:09"},   // 700 s x0.7, truncated
        {"60 %: plain", 600, 1000, 600, "00:06:40"},       // 400 s
        {"below 1 %", 100, 1000, 9, "-:-:-"},
        {"first second", 0, 1000, 500, "-:-:-"},
        {"nothing read", 100, 1000, 0, "-:-:-"},
        {"just under 101 h", 1, 1000, 500, "00:00:01"},
        {"101 hours", 363600, 1000, 500, "-:-:-"},        // 363600 s left
        {"100 h 59 min", 363540, 1000, 500, "100:59:00"},
        {"past the end", 100, 1000, 1200, "00:00:00"},     // nothing left
        {"a huge count", 1000000, u64(1) << 62, 1, "-:-:-"},
    };
    for (const Case& c : cases) EXPECT_EQ(KXUIController::RemainingTimeText(c.elapsed, c.total, c.current), c.text) << c.label;
}

TEST(ScanControl, TheScanProgressReadsTheRecordAndTheClock) {
    FakeWindowSide window;
    KXUIScan& scan = KXUIScan::instance();
    scan.ClearData();
    window.Clock()->Advance(std::chrono::seconds(100));
    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, 1000, 100);
    scan.UpdateProgress(&record);
    double percent = 0;
    u64 files = 7;
    EXPECT_EQ(window.Controller().GetScanProgress(&percent, &files), "00:07:30");
    EXPECT_DOUBLE_EQ(percent, 10.0);
    EXPECT_EQ(files, 0u);
    record = MakeProgressInfo(PROGRESS_RUNNING, 0, 0);
    scan.UpdateProgress(&record);
    EXPECT_EQ(window.Controller().GetScanProgress(&percent, nullptr), "-:-:-");
    EXPECT_DOUBLE_EQ(percent, 0.0);
}

TEST(ScanControl, EngineEventsReachTheWindowsOnlyWhileTheScanRuns) {
    CallLog log;
    FakeRecoveryController::Config controller{.blocks = 50, .blockMs = 2};
    // The scan waits until the delivery thread has taken the event: on a loaded machine the short scan could
    // otherwise end, and delivery stop with the event still queued, before the thread first ran.
    controller.onStart = [](IProgress*) {
        CMessageCenter::Instance()->PushEvent(EVENT_BAD_SECTOR, 0, nullptr);
        for (int i = 0; i < 30000 && CMessageCenter::Instance()->QueuedCount() > 0; ++i)
            std::this_thread::sleep_for(milliseconds(1));
    };
    FakeWindowSide window(Options({UsbDisk({Volume("STICK", "sdb1")})}, controller, &log));
    CMessageCenter::Instance()->SetDeliveryInterval(milliseconds(5));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue));
    ASSERT_TRUE(window.RunUntil([&] { return window.Count(ui_notification::kBadSectorNotify) == 1; }));
    ASSERT_TRUE(window.RunUntilScanEnds());
    // Delivery stopped, then the receiver went: nothing observes the engine's events any more.
    EXPECT_FALSE(CMessageCenter::Instance()->IsDelivering());
    EXPECT_EQ(CMyNotifyCenter::Instance()->ObserverCount(), 0u);
    CMessageCenter::Instance()->SetDeliveryInterval(milliseconds(1000));
}

// Reads the scan's indexes and the nodes in them on every refresh, as the result-tree arrays do.
class ReadingArrays : public IResultTreeArrays {
public:
    ReadingArrays() { SetResultTreeArrays(this); }
    ~ReadingArrays() override { SetResultTreeArrays(nullptr); }
    void RebuildForRefresh(int) override {
        KXUIScan& scan = KXUIScan::instance();
        for (IFileNode* folder : scan.KXGetNewPathNode()) seen += folder->GetFileName() ? 1 : 0;
        for (const auto& [category, nodes] : scan.GetTypeMap())
            for (IFileNode* node : nodes) bytes += u64(node->GetFileSize());
        for (const auto& [year, months] : scan.GetModifyTimeMap()) seen += months.size();
        ++rebuilds;
    }
    void Reset() override {}
    u64 bytes = 0;
    size_t seen = 0;
    int rebuilds = 0;
};

TEST(ScanControl, TheMainThreadReadsTheResultsWhileTheEngineGrowsThem) {
    std::vector<testsupport::FakeFileRow> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({"folder " + std::to_string(i / 50) + "/file " + std::to_string(i) + ".jpg", 100 + i,
                        kJuly2019, kMarch2021, testsupport::kFakeDeleted});
    auto tree = std::make_shared<testsupport::FakeFileTree>("STICK", SEARCHER_FAT, rows);
    CallLog log;
    FakeWindowSide window(Options({UsbDisk({Volume("STICK", "sdb1")})}, {.blocks = 300, .tree = tree}, &log));
    ReadingArrays arrays;
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    ASSERT_TRUE(window.Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue));
    // Refreshes go out as fast as the fake clock moves: every turn is 2 s.
    FakeWindowSide::Options unused;
    (void)unused;
    ASSERT_TRUE(window.RunUntilScanEnds());
    EXPECT_GE(arrays.rebuilds, 1);
    EXPECT_EQ(window.Last(kNormalScanValue).scanCount, 3000u);
}

}  // namespace
