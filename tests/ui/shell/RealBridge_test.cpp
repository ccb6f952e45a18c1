// Quitting through the real operations layer: the FAT fixture's FAT16 volume on a fake USB stick is
// scanned quickly with its reads held; Quit pauses the scan while the alert asks and "no" resumes it;
// the scan then ends as the fake window side records (not running, 100 %, the deleted files of size
// above 0 of the fixture's listing); Quit again runs the save prompt, and quitting joins every worker
// through CloseApp and leaves the event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/Utility/IFileNode.h"
#include "support/DiskReadHook.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"
#include "ui/app/CompositionRoot.h"
#include "ui/kit/Menu.h"
#include "ui/shell/KXAppDelegate.h"
#include "ui/shell/QuitGuard.h"
#include "ui/shell/ShellSandbox.h"
#include "ui/shell/UsageStatistics.h"
#include "uisupport/RealWindows.h"
#include "uisupport/UiTest.h"

namespace {

using namespace std::chrono_literals;
using testsupport::FakeWindowSide;
using ui_notification::kInitFinished;
using ui_notification::kNormalScanValue;

struct Found {
    std::string name;  // lower case, without its first letter (FAT's lost letter of a deleted name)
    i64 size = 0;
    bool operator<(const Found& other) const { return std::tie(name, size) < std::tie(other.name, other.size); }
    bool operator==(const Found& other) const { return name == other.name && size == other.size; }
    friend void PrintTo(const Found& found, std::ostream* out) { *out << found.name << " " << found.size; }
};

std::string Comparable(std::string name) {
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return name.empty() ? name : name.substr(1);
}

// The deleted files of the listing (fls -l) whose size is above 0: what a quick scan lists.
std::vector<Found> DeletedFilesWithData(const std::string& listing) {
    std::ifstream in(testsupport::FixturePath(listing));
    std::vector<Found> files;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("r/r * ", 0) != 0) continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        // head, path, four times, size, uid, gid
        if (fields.size() < 9) continue;
        const i64 size = std::stoll(fields[fields.size() - 3]);
        if (size > 0) files.push_back({Comparable(fields[1]), size});
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The files with data that the scan filed by category, once each.
std::vector<Found> FilesOfTheScan(IUIController& controller) {
    std::set<IFileNode*> nodes;
    for (const auto& [bit, list] : controller.GetTypeMap()) nodes.insert(list.begin(), list.end());
    std::vector<Found> files;
    for (IFileNode* node : nodes) {
        EXPECT_TRUE(node->IsDeleted()) << node->GetFileName();
        if (node->GetFileSize() <= 0) continue;
        files.push_back({Comparable(node->GetFileName() ? node->GetFileName() : ""), node->GetFileSize()});
    }
    std::sort(files.begin(), files.end());
    return files;
}

class EmptyRoot : public shell::IRootWindow {
public:
    kit::Window* window() override { return &m_window; }
    void showWindow() override { m_window.show(); }
    void importSavedResult(const std::string&) override {}

private:
    kit::Window m_window{kit::MakeSize(200, 100)};
};

struct AlertWatch : uitest::ScriptedResponder {
    explicit AlertWatch(IUIController& controller) : controller(controller) {}
    int answerAlert(const kit::Alert& alert) override {
        pausedWhileAsking.push_back(controller.IsPause());
        return uitest::ScriptedResponder::answerAlert(alert);
    }
    IUIController& controller;
    std::vector<bool> pausedWhileAsking;
};

TEST(RealBridge, QuitPausesAScanNoResumesItAndQuittingAfterItsEndSavesAndJoinsEveryWorker) {
    const std::vector<Found> expected = DeletedFilesWithData("fat/mbr-fat16.fls-l.txt");
    ASSERT_EQ(expected.size(), 6u);
    testsupport::TempDir dir;
    testsupport::UsbStick stick{dir / "kernel", fattest::Image("mbr-fat16"),
                                testsupport::UsbStick::Partition{.start = 2048, .sectors = 36864}};
    uitest::RealWindows windows;
    FakeWindowSide side{{.devices = stick.Devices(), .realWindows = windows.loop()}};
    app::CompositionRoot composition;
    IUIController& controller = side.Controller();
    shelltest::ShellSandbox sandbox;
    testsupport::TempDir noLibrary;
    shell::UsageStatistics statistics(sandbox.defaults, noLibrary.str());
    std::vector<int> hardExits;
    shell::KXAppDelegate::Options options;
    options.controller = &controller;
    options.rootWindow = [] { return std::make_unique<EmptyRoot>(); };
    options.statistics = &statistics;
    options.hardExit = [&](int code) { hardExits.push_back(code); };
    shell::KXAppDelegate delegate(options);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.rootWindowCon(), nullptr);

    controller.NotifiyDeviceInfoAfterInit(kInitFinished);
    ASSERT_TRUE(side.RunUntil([&] { return side.Count(kInitFinished) == 1; }));
    DiskVolumeNodeData::Rows rows;
    controller.GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows[0]->children() && rows[0]->children()->size() == 1u);
    const DiskVolumeNodeData* volume = rows[0]->children()->front().get();

    testsupport::DiskReadHook hook(dir / "kernel", *side.Clock());
    hook.HoldReads(10s);
    controller.initFileType();
    controller.SetRecoveryType(127);
    ASSERT_TRUE(controller.DoScanWithData(volume, kNormalScanValue));
    ASSERT_TRUE(side.RunUntil([&] { return hook.HeldNow() == 1; }));

    // Quit while the scan runs: paused behind the alert, "no" resumes it.
    {
        AlertWatch alert(controller);
        alert.alertAnswers.push_back(0);
        delegate.item(shell::KXAppDelegate::Outlets::kExit)->trigger();
        ASSERT_EQ(alert.alertsAsked.size(), 1u);
        EXPECT_EQ(alert.pausedWhileAsking, std::vector<bool>{true});
    }
    EXPECT_TRUE(controller.IsScanRunning());
    EXPECT_FALSE(controller.IsPause());
    EXPECT_FALSE(delegate.hasTerminated());

    hook.StopHolding();
    ASSERT_TRUE(side.RunUntilScanEnds());
    const FakeWindowSide::Delivery last = side.Last(kNormalScanValue);
    EXPECT_FALSE(last.scanRunning);
    EXPECT_DOUBLE_EQ(last.percent, 100.0);
    EXPECT_EQ(FilesOfTheScan(controller), expected);
    i64 bytes = 0;
    for (const Found& file : expected) bytes += file.size;
    EXPECT_EQ(last.scanSize, u64(bytes));
    EXPECT_FALSE(controller.IsScanRunning());

    // Quit after the scan: the result window's save prompt, then CloseApp leaves the event loop.
    int prompts = 0;
    shell::SetSavePromptHook([&] {
        ++prompts;
        return shell::SavePromptAnswer::Quit;
    });
    QTimer::singleShot(0, [&] { delegate.item(shell::KXAppDelegate::Outlets::kExit)->trigger(); });
    const int code = QCoreApplication::exec();
    shell::SetSavePromptHook({});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(prompts, 1);
    EXPECT_TRUE(delegate.hasTerminated());
    EXPECT_TRUE(hardExits.empty());
    EXPECT_EQ(WorkerRegistry::Instance().RunningCount(), 0u);
    EXPECT_FALSE(KXUIController::IsScanWorkerAlive());
}

}  // namespace
