// The controller's saved-result folder, default names, support configuration, progress of a save, and
// the close of the program while a scan or a save runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../Scan/ScanTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/SaveRestore/KXSaveAndRestoreNodeOperate.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/MessageCenter.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"
#include "SaveRestoreTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace brelvox::foundation;
using scantest::UsbDisk;
using scantest::Volume;
using testsupport::CallLog;
using testsupport::FakeRecoveryController;
using testsupport::FakeWindowSide;
using testsupport::TempDir;

// Sets an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(SaveConfiguration, TheSaveFolderGoesToTheOverlayAndTheConfigurationReadsItsTwoFlags) {
    const std::string resource = testsupport::ReadFile(ResourcePropertyList::PrivateData().ResourcePath());
    EXPECT_FALSE(KXUIController::GetSavePath().has_value());
    ASSERT_TRUE(KXUIController::SavePathToPList("/home/user/Saved results"));
    EXPECT_EQ(KXUIController::GetSavePath(), "/home/user/Saved results");
    EXPECT_EQ(PropertyList::Load(ResourcePropertyList::PrivateData().OverlayPath())->GetString("SavePath"),
              "/home/user/Saved results");
    EXPECT_EQ(testsupport::ReadFile(ResourcePropertyList::PrivateData().ResourcePath()), resource)
        << "the shipped resource is never written";

    TempDir dir;
    struct Case {
        const char* label;
        std::optional<std::string> file;  // config.plist's bytes; none: missing
        bool complete;
        bool quick;
    };
    PropertyList both;
    both.SetBool("ZZKeyCompleteProtect", true);
    both.SetBool("ZZKeyQuickProtect", true);
    PropertyList quickOnly;
    quickOnly.SetBool("ZZKeyQuickProtect", true);
    quickOnly.SetBool("ZZKeyCompleteProtect", false);
    const Case cases[] = {
        {"missing", std::nullopt, false, false},
        {"both set, binary", both.Serialize(PlistFormat::Binary), true, true},
        {"quick only, XML", quickOnly.Serialize(PlistFormat::Xml), false, true},
        {"not a property list", std::string("\x00\x01garbage", 9), false, false},
        {"an array, not a dictionary", std::string("<plist><array><true/></array></plist>"), false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / ".Brelvoxfiles");
        if (c.file) testsupport::WriteFile(folder / ".Brelvoxfiles" / "config.plist", *c.file);
        EXPECT_EQ(KXUIController::ZZGetCompleteProtect(folder.string()), c.complete);
        EXPECT_EQ(KXUIController::ZZGetQuickProtect(folder.string()), c.quick);
        EXPECT_TRUE(KXUIController::ZZGetConfigDictionary(folder.string()).IsDictionary());
    }

    ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    EXPECT_EQ(KXUIController::GetDefaultSavePath(), (dir / "data" / "Brelvox" / "SaveScan").string());
    EXPECT_TRUE(fs::is_directory(dir / "data" / "Brelvox" / "SaveScan"));
}

TEST(SaveConfiguration, TheDefaultNamesTakeTheScannedDeviceAndTheLocalTimeMonthFirst) {
    // 5 March 2014, 09:07:03 (the tests run in UTC).
    testsupport::FakeClock clock(1394010423);
    testsupport::ScopedBridgeClock useClock(&clock);
    testsupport::ResetOperations(scantest::Devices({UsbDisk({Volume("Untitled", "sdb1")})}));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    KXUIScan::instance().SaveScanSorage(KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0));
    EXPECT_EQ(KXUIController::GetSaveFileName(), "Untitled_03-05-2014 at 09:07:03");
    KXUIScan::instance().SaveScanSorage(KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, -1));
    EXPECT_EQ(KXUIController::GetSaveFileName(), "USB Stick_03-05-2014 at 09:07:03");
    EXPECT_EQ(KXUIController::GetSaveDmgFileName("a/b"), "a_b_03-05-2014 at 09_07_03");
    KXUIScan::instance().SaveScanSorage(nullptr);
    testsupport::ResetOperations();
}

TEST(SaveConfiguration, AFinishedSaveReportsItsWholeTotal) {
    KXSaveAndRestoreNodeOperate& save = KXSaveAndRestoreNodeOperate::instance();
    struct Case {
        u32 status;
        u64 current;
        i64 code;
        u64 expectedCurrent;
    };
    const Case cases[] = {{PROGRESS_RUNNING, 40, 0, 40}, {PROGRESS_FINISHED, 40, 0, 100}, {PROGRESS_FINISHED, 7, 8, 100}};
    for (const Case& c : cases) {
        save.SetProgressInfo(MakeProgressInfo(c.status, 100, c.current, c.code));
        u64 total = 0, current = 0, code = 0;
        KXUIController::GetSaveorRestoreProgress(&total, &current, &code, true);
        EXPECT_EQ(total, 100u);
        EXPECT_EQ(current, c.expectedCurrent);
        EXPECT_EQ(code, u64(c.code));
    }
    save.SetProgressInfo(_PROGRESS_INFO{});
    save.SetStatus(OP_IDLE);
}

// The hooks of the application: the statistics end and the leaving of the event loop, in order.
struct Hooks {
    Hooks() {
        KXUIController::SetSpyIDEndHook([this] { calls.push_back("statistics end"); });
        KXUIController::SetQuitHook([this] {
            calls.push_back("quit");
            runningAtQuit = WorkerRegistry::Instance().RunningCount();
        });
    }
    ~Hooks() {
        KXUIController::SetSpyIDEndHook(nullptr);
        KXUIController::SetQuitHook(nullptr);
        UserDefaults::Standard().Remove(defaults_key::kParticipate);
    }
    std::vector<std::string> calls;
    size_t runningAtQuit = 99;
};

TEST(CloseApp, TheStatisticsEndOnlyWhenTheUserTakesPart) {
    for (bool participate : {false, true}) {
        SCOPED_TRACE(participate);
        Hooks hooks;
        ASSERT_TRUE(UserDefaults::Standard().SetBool(defaults_key::kParticipate, participate));
        EXPECT_TRUE(KXUIController::CloseApp(std::chrono::milliseconds(1000)));
        const std::vector<std::string> expected =
            participate ? std::vector<std::string>{"statistics end", "quit"} : std::vector<std::string>{"quit"};
        EXPECT_EQ(hooks.calls, expected);
        EXPECT_EQ(hooks.runningAtQuit, 0u);
    }
}

TEST(CloseApp, DuringAScanTheWorkersAreStoppedAndJoinedBeforeTheEventLoopIsLeft) {
    CallLog log;
    FakeWindowSide::Options options;
    options.devices = scantest::Devices({UsbDisk({Volume("STICK", "sdb1")})});
    options.controllers = testsupport::FakeControllerFactory({.blocks = 100000, .blockMs = 1, .tree = scantest::FoundFiles()}, &log);
    // Closing waits on the bridge clock: a real one.
    options.fakeClock = false;
    FakeWindowSide window(std::move(options));
    ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
    IUIController& ui = window.Controller();
    ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, ui_notification::kNormalScanValue));
    ASSERT_TRUE(window.RunUntil([] { return KXUIScan::instance().GetProgressInfo().current >= 5; }));
    ASSERT_TRUE(KXUIController::IsScanWorkerAlive());

    // A save asked for while the scan runs is refused, and its poll ends at once.
    ui.RestorPostUIUpdate("QueryProgressInfo", 1);
    EXPECT_FALSE(ui.beginSaveOrRestoreNode(1, "/nonexistent/result.rsf", ""));
    EXPECT_EQ(KXSaveAndRestoreNodeOperate::instance().GetStatus(), u32(OP_IDLE));
    EXPECT_FALSE(ui.beginSaveOrRestoreNode(0, "/nonexistent/result.rsf", "")) << "no load under a running scan";
    EXPECT_TRUE(KXUIController::IsScanWorkerAlive());

    Hooks hooks;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(KXUIController::CloseApp());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "the scan stopped at once";
    EXPECT_EQ(hooks.calls, std::vector<std::string>{"quit"});
    EXPECT_EQ(hooks.runningAtQuit, 0u) << "no worker runs when the event loop is left";
    EXPECT_EQ(WorkerRegistry::Instance().Count(), 0u) << "every worker joined";
    EXPECT_FALSE(KXUIController::IsScanWorkerAlive());
    EXPECT_FALSE(ui.IsScanRunning());
}

TEST(CloseApp, DuringASaveTheFileIsWholeOrAbsent) {
    // A scan of many files gives a save that lasts; the close comes at once, or once it has begun.
    std::vector<testsupport::FakeFileRow> rows;
    for (int folder = 0; folder < 100; ++folder)
        for (int file = 0; file < 500; ++file)
            rows.push_back({"d" + std::to_string(folder) + "/f" + std::to_string(file) + ".jpg", 1000 + file,
                            scantest::kJuly2019, scantest::kMarch2021, testsupport::kFakeDeleted});
    auto tree = std::make_shared<testsupport::FakeFileTree>("STICK", SEARCHER_FAT, rows);
    for (int delay : {0, 20}) {
        SCOPED_TRACE(delay);
        CallLog log;
        FakeWindowSide::Options options;
        options.devices = scantest::Devices({UsbDisk({Volume("STICK", "sdb1")})});
        options.controllers = testsupport::FakeControllerFactory({.blocks = 2, .tree = tree}, &log);
        options.fakeClock = false;
        FakeWindowSide window(std::move(options));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        IUIController& ui = window.Controller();
        ASSERT_TRUE(ui.DoScanWithDiskIndex(0, 0, ui_notification::kNormalScanValue));
        ASSERT_TRUE(window.RunUntilScanEnds());
        ASSERT_GE(KXUIScan::instance().GetScanFileCnt(), 50000u);

        TempDir dir;
        const std::string path = (dir / "result.rsf").string();
        ui.RestorPostUIUpdate("QueryProgressInfo", 1);
        ASSERT_TRUE(ui.beginSaveOrRestoreNode(1, path, ""));
        EXPECT_FALSE(ui.beginSaveOrRestoreNode(1, path, "")) << "one save at a time";
        if (delay) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        Hooks hooks;
        EXPECT_TRUE(KXUIController::CloseApp());
        EXPECT_EQ(hooks.runningAtQuit, 0u);
        EXPECT_EQ(WorkerRegistry::Instance().Count(), 0u);
        // Nothing but the result, whole, or nothing at all.
        size_t entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
        if (fs::exists(path)) {
            EXPECT_EQ(entries, 1u);
            auto loaded = saved_result::Load(path);
            EXPECT_EQ(loaded->code, 0u) << loaded->field;
            EXPECT_EQ(loaded->builder.accepted.size(), rows.size() + 100);
        } else {
            EXPECT_EQ(entries, 0u) << "no unfinished file is left";
            EXPECT_NE(KXSaveAndRestoreNodeOperate::instance().GetProgressInfo().errorCode, 0);
        }
    }
}

}  // namespace
