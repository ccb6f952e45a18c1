// Recoveries of fake scan results through the controller: folders and counters, failures, skips,
// the pause for the user, stops, and the refusal of the scanned device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>

#include "../Scan/ScanTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace scantest;
using std::chrono::milliseconds;
using testsupport::CallLog;
using testsupport::FakeCopyScript;
using testsupport::FakeDataRecovery;
using testsupport::FakeRecoveryController;
using testsupport::FakeWindowSide;
using testsupport::TempDir;
using ui_notification::kDoRecovery;
using ui_notification::kNormalScanValue;

const void* const kNodeList = &kNodeList;

// A scan of a fake USB volume whose finds are FoundFiles() (plus extra rows), all ticked.
class RecoveryTest : public testing::Test {
protected:
    void Scan(FakeRecoveryController::Config controller, dev_t volumeNumber = makedev(4000, 17), bool deep = false,
              std::vector<testsupport::FakeFileRow> extra = {}) {
        tree = FoundFiles();
        for (const auto& row : extra) tree->Add(row);
        controller.tree = tree;
        controller.copy = copy;
        FakeEnumDevice::Volume volume = Volume("STICK", "sdb1");
        volume.number = volumeNumber;
        FakeWindowSide::Options options;
        options.devices = Devices({UsbDisk({volume})});
        options.controllers = testsupport::FakeControllerFactory(controller, &log);
        window = std::make_unique<FakeWindowSide>(std::move(options));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        KXUIScan::instance().SetDeepScan(deep ? 1 : 0);
        ASSERT_TRUE(window->Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue));
        ASSERT_TRUE(window->RunUntilScanEnds());
        for (auto* file : tree->Files()) OpNodeData(file).setNodeState(CHECKED_ALL);
    }
    i64 Recover() {
        int count = 0;
        u64 size = 0;
        window->Controller().GetSelectedFilesAmout(&count, &size);
        selected = count;
        return window->Controller().DoRecovery(kNodeList, dest.str(), kDoRecovery);
    }
    // Relative path (below the numbered folder) -> bytes, of every file in the destination.
    std::map<std::string, std::string> Written(const std::string& folderSuffix = "_0001") {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(dest.path())) {
            const std::string folder = entry.path().filename().string();
            if (folder.size() < folderSuffix.size() || folder.substr(folder.size() - folderSuffix.size()) != folderSuffix)
                continue;
            for (const auto& f : fs::recursive_directory_iterator(entry.path()))
                if (f.is_regular_file())
                    files[fs::relative(f.path(), entry.path()).string()] = testsupport::ReadFile(f.path());
        }
        return files;
    }
    std::string Bytes(const std::string& path) { return FakeDataRecovery::Bytes(tree->Node(path)); }

    CallLog log;
    std::shared_ptr<FakeCopyScript> copy = std::make_shared<FakeCopyScript>();
    std::shared_ptr<testsupport::FakeFileTree> tree;
    std::unique_ptr<FakeWindowSide> window;
    TempDir dest;
    int selected = 0;
};

const u64 kFoundBytes = 150000u + 90000 + 30000 + 1200 + 10;

TEST_F(RecoveryTest, TickedFilesGoToANumberedFolderAtTheirPaths) {
    Scan({});
    ASSERT_EQ(Recover(), 0);
    EXPECT_EQ(selected, 5);
    EXPECT_TRUE(window->Controller().IsRecoveryRunning());
    ASSERT_TRUE(window->RunUntilRecoveryEnds());

    const auto files = Written();
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files.at("STICK/DCIM/IMG_0001.JPG"), Bytes("DCIM/IMG_0001.JPG"));
    EXPECT_EQ(files.at("STICK/Docs/old/notes.txt"), Bytes("Docs/old/notes.txt"));
    EXPECT_EQ(files.at("STICK/timeless.bin"), Bytes("timeless.bin"));
    const auto folder = fs::directory_iterator(dest.path())->path().filename().string();
    EXPECT_EQ(folder.rfind("Fat_Recovered Data ", 0), 0u) << folder;

    const auto last = window->Last(kDoRecovery);
    EXPECT_FALSE(last.recoveryRunning);
    EXPECT_EQ(last.copied, 5u);
    EXPECT_EQ(last.failed, 0u);
    EXPECT_EQ(last.skipped, 0u);
    EXPECT_EQ(last.recoveryTotal, kFoundBytes);
    EXPECT_EQ(last.recoveryCurrent, kFoundBytes) << "progress counts against the ticked total";
    EXPECT_EQ(last.recoveryCode, 0);
    EXPECT_EQ(KXUIController::GetRecoveridedSize(), kFoundBytes);
    EXPECT_EQ(KXUIController::GetCurrentScanRecoveryCnt(), 1);

    // Again: a new numbered folder; the first copies are left as they are.
    const auto first = Written();
    ASSERT_EQ(Recover(), 0);
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    EXPECT_EQ(Written("_0002").size(), 5u);
    EXPECT_EQ(Written(), first);
    EXPECT_EQ(KXUIController::GetCurrentScanRecoveryCnt(), 2);
}

TEST_F(RecoveryTest, AFailedFileLeavesNothingAndItsCodeIsKept) {
    copy->failNames = {"IMG_0002.JPG", "notes.txt"};
    Scan({}, makedev(4000, 17), false,
         {{"hidden.jpg", 500, kJuly2019, kJuly2019, testsupport::kFakeDeleted | testsupport::kFakeTicked |
                                                        testsupport::kFakeHidden}});
    ASSERT_EQ(Recover(), 0);
    EXPECT_EQ(selected, 5) << "a hidden file is not among the ticked ones";
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    const auto files = Written();
    EXPECT_EQ(files.size(), 3u);
    EXPECT_EQ(files.count("STICK/DCIM/IMG_0002.JPG"), 0u) << "no partial file";
    EXPECT_EQ(files.count("STICK/hidden.jpg"), 0u);
    EXPECT_EQ(files.at("STICK/DCIM/IMG_0001.JPG"), Bytes("DCIM/IMG_0001.JPG"));
    const auto last = window->Last(kDoRecovery);
    EXPECT_EQ(last.copied, 3u);
    EXPECT_EQ(last.failed, 2u);
    EXPECT_EQ(last.skipped, 0u);
    EXPECT_EQ(u64(last.recoveryCode), testsupport::kFakeReadFailed) << "the end record carries the first failure";
    EXPECT_EQ(KXUIController::GetRecoveryFirstFailure(), testsupport::kFakeReadFailed);
}

TEST_F(RecoveryTest, AFileWithoutDataRecoveryObjectIsSkipped) {
    // A deep scan whose controller has no object for FAT files.
    Scan({.recoveryTypes = {SEARCHER_RAW}}, makedev(4000, 17), true);
    ASSERT_EQ(Recover(), 0);
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(fs::is_empty(dest.path())) << "nothing made for skipped files";
    const auto last = window->Last(kDoRecovery);
    EXPECT_EQ(last.copied, 0u);
    EXPECT_EQ(last.skipped, 5u);
    EXPECT_EQ(last.failed, 0u);
    EXPECT_EQ(KXUIController::GetRecoverySkippedFiles(), 5u);
}

TEST_F(RecoveryTest, AFileThatWaitsForTheUserPausesTheRecoveryAndResumeEndsItExactly) {
    copy->waitName = "report.doc";
    Scan({});
    ASSERT_EQ(Recover(), 0);
    ASSERT_TRUE(window->RunUntil([] { return KXUIRecovery::instance().GetStatus() == OP_PAUSED; }));
    const u64 total = KXUIRecovery::instance().GetRecoveryTotalSize();
    // Whatever else asks for a reset meanwhile leaves a paused recovery alone.
    KXUIRecovery::instance().ResetParam();
    EXPECT_EQ(KXUIRecovery::instance().GetRecoveryTotalSize(), total);
    ASSERT_TRUE(window->RunUntil([&] {
        return window->Count(kDoRecovery) > 0 && (u64(window->Last(kDoRecovery).recoveryCode) & 0xFFFFFFFF) == 0xD03;
    }));
    EXPECT_TRUE(window->Last(kDoRecovery).recoveryRunning);
    EXPECT_EQ(window->Last(kDoRecovery).recoveryFile, "report.doc");
    window->RunUntil([] { return false; }, milliseconds(300));
    EXPECT_EQ(KXUIRecovery::instance().GetStatus(), u32(OP_PAUSED)) << "it waits for the user";

    window->Controller().PauseOrResumeRecovery();
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    const auto files = Written();
    EXPECT_EQ(files.at("STICK/Docs/report.doc"), Bytes("Docs/report.doc"));
    EXPECT_EQ(window->Last(kDoRecovery).copied, 5u);
}

TEST_F(RecoveryTest, AStopEndsTheWalkAndLeavesNoHalfFile) {
    copy->step = 16;  // a slow copy: one record per 16 bytes
    Scan({});
    window->When([] { return KXUIController::GetRecoveridedSize() > 1000; },
                 [&] { window->Controller().StopRecvoery(); }, "stop");
    ASSERT_EQ(Recover(), 0);
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    EXPECT_EQ(window->ScriptLog(), std::vector<std::string>{"stop"});
    const auto files = Written();
    for (const auto& [path, bytes] : files) {
        const std::string found = path.substr(std::string("STICK/").size());
        EXPECT_EQ(bytes, Bytes(found)) << path << ": only whole copies stay";
    }
    EXPECT_LT(window->Last(kDoRecovery).copied, 5u);
    EXPECT_EQ(window->Last(kDoRecovery).copied, files.size());
    EXPECT_FALSE(window->Controller().IsRecoveryRunning());
}

TEST_F(RecoveryTest, TheScannedDeviceIsNeverADestination) {
    struct stat st {};
    ASSERT_EQ(::stat(dest.str().c_str(), &st), 0);
    // The scanned volume has the destination's device number.
    Scan({}, st.st_dev);
    EXPECT_TRUE(window->Controller().IsRecoveryToSameDevice(dest.str()));
    EXPECT_TRUE(window->Controller().IsRecoveryToSameDevice(dest.str() + "/not/made/yet"));
    EXPECT_EQ(u64(Recover()), KXUIRecovery::kDestinationOnScannedDevice);
    EXPECT_FALSE(window->Controller().IsRecoveryRunning());
    EXPECT_TRUE(fs::is_empty(dest.path())) << "nothing written";

    // Scanned as the whole disk, the same volume counts too.
    ASSERT_TRUE(window->Controller().DoScanWithDiskIndex(0, -1, kNormalScanValue));
    ASSERT_TRUE(window->RunUntilScanEnds());
    EXPECT_TRUE(window->Controller().IsRecoveryToSameDevice(dest.str()));
}

TEST_F(RecoveryTest, AnotherDeviceIsADestinationAndBadStartsAreRefused) {
    Scan({});
    EXPECT_FALSE(window->Controller().IsRecoveryToSameDevice(dest.str()));
    EXPECT_EQ(u64(window->Controller().DoRecovery(nullptr, dest.str(), kDoRecovery)), KXUIRecovery::kBadArguments);
    EXPECT_EQ(u64(window->Controller().DoRecovery(kNodeList, "", kDoRecovery)), KXUIRecovery::kBadArguments);

    copy->waitName = "IMG_0001.JPG";
    ASSERT_EQ(Recover(), 0);
    ASSERT_TRUE(window->RunUntil([] { return KXUIRecovery::instance().GetStatus() == OP_PAUSED; }));
    EXPECT_EQ(u64(Recover()), KXUIRecovery::kRecoveryRunning);
    EXPECT_FALSE(window->Controller().DoScanWithDiskIndex(0, 0, kNormalScanValue))
        << "a scan would free the nodes being copied";
    window->Controller().StopRecvoery();
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    EXPECT_FALSE(window->Controller().IsRecoveryRunning());
}

}  // namespace
