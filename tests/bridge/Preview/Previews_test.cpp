// Previews of a fake scan's finds through the controller: which files are read, how much of them,
// through which objects, and what the windows get back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <thread>

#include "../Scan/ScanTestSupport.h"
#include "PreviewTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Preview/PreviewFolder.h"
#include "bridge/Preview/Previews.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/IRecoveryFilter.h"
#include "support/FakeKernelTree.h"
#include "support/FakeRecovery.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace previewtest;
using namespace scantest;
using testsupport::FakeFileRow;
using testsupport::FakeRecoveryController;
using testsupport::FakeWindowSide;
using testsupport::TempDir;
using testsupport::kFakeDeleted;

constexpr i64 kMiB = 1024 * 1024;
const dev_t kVolumeNumber = makedev(4000, 17);

class PreviewTest : public testing::Test {
protected:
    void SetUp() override {
        SetIconProvider(&icons);
        SetImageDecoder(&decoder);
        PreviewFolder::instance().SetBase(temp.str());
    }
    void TearDown() override {
        window.reset();
        SetImageDecoder(nullptr);
        SetIconProvider(nullptr);
        PreviewFolder::instance().SetBase("");
    }

    // A quick (or deep) scan of a fake USB volume "STICK" finding rows; nothing is read yet.
    void Scan(const std::vector<FakeFileRow>& rows, bool deep = false, brelvox::disks::KernelRoots roots = {}) {
        tree = std::make_shared<testsupport::FakeFileTree>("STICK", SEARCHER_FAT, rows);
        FakeRecoveryController::Config controller;
        controller.tree = tree;
        controller.makeRecovery = [this](_tagSearcherType) {
            return new CountingDataRecovery(ledger, !ledger.previewsStarted.load());
        };
        FakeEnumDevice::Volume volume = Volume("STICK", "sdb1");
        volume.number = kVolumeNumber;
        FakeWindowSide::Options options;
        options.devices = Devices({UsbDisk({volume})});
        options.devices.roots = roots;
        options.controllers = testsupport::FakeControllerFactory(controller, nullptr);
        // The engine's filter reads the category lists once, when the first window side makes it.
        KXUIController::initFileType();
        window = std::make_unique<FakeWindowSide>(std::move(options));
        ASSERT_TRUE(KXUIDeviceData::instance().InitDeviceInfo());
        KXUIScan::instance().SetDeepScan(deep ? 1 : 0);
        ASSERT_TRUE(window->Controller().DoScanWithDiskIndex(0, 0, ui_notification::kNormalScanValue));
        ASSERT_TRUE(window->RunUntilScanEnds());
        ledger.previewsStarted = true;
        ledger.Reset();
    }
    IFileNode* Node(const std::string& path) { return tree->Node(path); }
    IconImage Preview(const std::string& path) { return window->Controller().GetNSImageByFildNode(Node(path)); }
    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
            if (!entry.is_directory()) names.push_back(entry.path().string());
        }
        return names;
    }

    TempDir temp;
    testsupport::FakeIconProvider icons;
    FakeDecoder decoder;
    Ledger ledger;
    std::shared_ptr<testsupport::FakeFileTree> tree;
    std::unique_ptr<FakeWindowSide> window;
};

struct Case {
    const char* path;
    i64 size;
    std::string content;    // the file's bytes ("" : a pattern)
    std::string smallJpeg;  // what ReadSmallJPG finds ("" : nothing)
    const char* source;     // what the preview is: "bytes"/"file" (decoded) or "type:EXT" (the icon)
    int width;
    int height;
    int setRecoverNode;     // readers asked for
    u64 bytesRead;  // ReadSmallJPG looks at 64 KiB of a file that large
    std::vector<int> copyLimits;
    u64 bytesCopied;
};

TEST_F(PreviewTest, EachKindOfFileIsReadWithinItsLimits) {
    const std::vector<Case> cases = {
        // Pictures: decoded from their bytes, the embedded small JPEG first.
        {"DCIM/small.jpg", 40000, Picture(640, 480), "", "bytes", 192, 144, 1, 40000, {}, 0},
        {"DCIM/camera.jpg", 5 * kMiB, Picture(4000, 3000), Picture(160, 120), "bytes", 160, 120, 1, 65536, {}, 0},
        {"DCIM/limit.png", 100 * kMiB, Picture(100, 50), "", "bytes", 100, 50, 1, 65536 + u64(100 * kMiB), {}, 0},
        {"DCIM/empty.jpg", 0, "", "", "type:jpg", 32, 32, 0, 0, {}, 0},
        {"DCIM/huge.jpg", 100 * kMiB + 1, Picture(10, 10), "", "type:jpg", 32, 32, 0, 0, {}, 0},
        // Undecodable bytes end the tries at once; an empty picture is read and decoded a second time.
        {"DCIM/noise.gif", 3000, "", "", "type:gif", 32, 32, 1, 3000, {}, 0},
        {"DCIM/blank.bmp", 3000, Picture(0, 0), "", "type:bmp", 32, 32, 1, 6000, {}, 0},
        // Photoshop: a whole copy for the decoder, then the ordinary decoding, then the icon.
        {"Art/poster.psd", 300000, "", "", "type:psd", 32, 32, 2, 65536 + 300000, {0}, 300000},
        {"Art/layered.psd", 300000, Picture(900, 300), "", "file", 192, 64, 1, 0, {0}, 300000},
        // Raw camera files: the copy's picture or the icon, never the ordinary decoding.
        {"Raw/IMG_1.cr2", 700000, Picture(6000, 4000), "", "file", 192, 128, 1, 0, {0}, 700000},
        {"Raw/IMG_2.dng", 700000, "", "", "type:dng", 32, 32, 1, 0, {0}, 700000},
        {"Raw/IMG_3.cr2", 0, "", "", "type:cr2", 32, 32, 0, 0, {}, 0},
        // Movies: the first 2 MiB, an AVI up to 50 MiB whole; another extension gets no read.
        {"Movies/exact.avi", 50 * kMiB, "", "", "type:avi", 32, 32, 1, 0, {0}, u64(50 * kMiB)},
        {"Movies/over.avi", 50 * kMiB + 1, "", "", "type:avi", 32, 32, 1, 0, {int(2 * kMiB)}, u64(2 * kMiB)},
        {"Movies/short.mp4", 1 * kMiB, Picture(1280, 720), "", "file", 192, 108, 1, 0, {0}, u64(kMiB)},
        {"Movies/long.mov", 3 * kMiB, "", "", "type:mov", 32, 32, 1, 0, {int(2 * kMiB)}, u64(2 * kMiB)},
        {"Movies/other.wmv", 3 * kMiB, Picture(10, 10), "", "type:wmv", 32, 32, 0, 0, {}, 0},
        // Neither picture nor movie: the icon, nothing read.
        {"Docs/notes.txt", 5000, Picture(10, 10), "", "type:txt", 32, 32, 0, 0, {}, 0},
        {"Docs/README", 5000, Picture(10, 10), "", "type:", 32, 32, 0, 0, {}, 0},
    };
    std::vector<FakeFileRow> rows;
    for (const Case& c : cases) {
        rows.push_back({c.path, c.size, kJuly2019, kJuly2019, kFakeDeleted});
        if (!c.content.empty()) ledger.contents[fs::path(c.path).filename().string()] = c.content;
        if (!c.smallJpeg.empty()) ledger.smallJpeg[fs::path(c.path).filename().string()] = c.smallJpeg;
    }
    Scan(rows);
    IRecoveryFilter* filter = KXUIFilter::instance().GetFilter();
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->GetNodeFileType(Node("Movies/other.wmv")), u32(FILTER_MOVIE)) << "the type table is loaded";
    ASSERT_EQ(filter->GetNodeFileType(Node("Art/poster.psd")), u32(FILTER_PICTURE));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ledger.Reset();
        const IconImage image = Preview(c.path);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(SourceOf(image), c.source);
        EXPECT_EQ(image->Width(), c.width);
        EXPECT_EQ(image->Height(), c.height);
        EXPECT_EQ(ledger.setRecoverNode.load(), c.setRecoverNode);
        EXPECT_EQ(ledger.bytesRead.load(), c.bytesRead);
        EXPECT_EQ(ledger.Limits(), c.copyLimits);
        EXPECT_EQ(ledger.bytesCopied.load(), c.bytesCopied);
        EXPECT_EQ(ledger.callsOnScanObjects.load(), 0) << "previews read through objects of their own";
        EXPECT_TRUE(FolderEntries().empty()) << "every copy is removed after use";
    }
}

TEST_F(PreviewTest, EveryCallerGetsTheSamePicture) {
    ledger.contents["a.jpg"] = Picture(300, 300);
    Scan({{"a.jpg", 5000, kJuly2019, kJuly2019, kFakeDeleted}});
    IFileNode* node = Node("a.jpg");
    OpNodeData row(node);
    const std::vector<IconImage> images = {
        window->Controller().GetNSImageByFildNode(node),
        window->Controller().GetNSImageByFildNodeNSNumber(reinterpret_cast<std::uintptr_t>(node)),
        window->Controller().GetNSImageByNode(&row),
    };
    for (const IconImage& image : images) {
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(SourceOf(image), "bytes");
        EXPECT_EQ(image->Width(), 192);
    }
    EXPECT_EQ(window->Controller().GetNSImageByFildNode(nullptr), nullptr);
    EXPECT_EQ(window->Controller().GetNSImageByFildNodeNSNumber(0), nullptr);
    EXPECT_EQ(window->Controller().GetNSImageByNode(nullptr), nullptr);
    // Without a decoder every file shows its icon, and nothing is read.
    SetImageDecoder(nullptr);
    ledger.Reset();
    EXPECT_EQ(SourceOf(window->Controller().GetNSImageByFildNode(node)), "type:jpg");
    EXPECT_EQ(ledger.setRecoverNode.load(), 0);
}

TEST_F(PreviewTest, DeepScansReadThroughNewObjectsOfTheController) {
    ledger.contents["a.jpg"] = Picture(64, 48);
    ledger.contents["b.cr2"] = Picture(64, 48);
    Scan({{"a.jpg", 5000, kJuly2019, kJuly2019, kFakeDeleted}, {"b.cr2", 5000, kJuly2019, kJuly2019, kFakeDeleted}},
         true);
    ASSERT_GT(ledger.scanObjects.load(), 0) << "the recovery's table was filled when the scan ended";
    for (const char* path : {"a.jpg", "b.cr2"}) {
        const IconImage image = Preview(path);
        ASSERT_NE(image, nullptr) << path;
        EXPECT_EQ(image->Width(), 64) << path;
    }
    EXPECT_EQ(ledger.callsOnScanObjects.load(), 0);
    EXPECT_EQ(ledger.duplicates.load(), 0);
}

TEST_F(PreviewTest, CopiesLiveInAPrivateFolderUnderHarmlessNames) {
    ledger.contents["a.cr2"] = Picture(10, 10);
    Scan({{"Raw/a.cr2", 5000, kJuly2019, kJuly2019, kFakeDeleted}});
    auto* node = static_cast<testsupport::FakeFileNode*>(Node("Raw/a.cr2"));
    for (const char* name : {"a.cr2", "../x.cr2", "a/b.cr2", "../../../../etc/passwd.cr2", ".hidden.cr2"}) {
        SCOPED_TRACE(name);
        node->SetFileName(name);
        ledger.contents[name] = Picture(10, 10);
        const size_t before = decoder.Files().size();
        const IconImage image = GetRawPicThumb(node);
        ASSERT_EQ(decoder.Files().size(), before + 1);
        const FakeDecoder::FileSeen seen = decoder.Files().back();
        EXPECT_EQ(SourceOf(image), "file");
        EXPECT_EQ(seen.fileMode, mode_t(0600));
        EXPECT_EQ(seen.folderMode, mode_t(0700));
        EXPECT_EQ(seen.size, 5000);
        const fs::path folder = fs::path(seen.path).parent_path();
        EXPECT_EQ(folder.parent_path(), temp.path()) << seen.path;
        EXPECT_EQ(folder.filename().string().rfind("brelvox-preview-", 0), 0u) << seen.path;
        EXPECT_EQ(fs::path(seen.path).filename().string().find('/'), std::string::npos);
        EXPECT_TRUE(FolderEntries().empty());
    }
    // A copy that fails leaves nothing behind and shows the icon.
    node->SetFileName("a.cr2");
    ledger.failCopies = true;
    const size_t before = decoder.Files().size();
    EXPECT_EQ(SourceOf(GetRawPicThumb(node)), "type:cr2");
    EXPECT_EQ(decoder.Files().size(), before);
    EXPECT_TRUE(FolderEntries().empty());
    // The private folder is made again when it vanished.
    ledger.failCopies = false;
    fs::remove_all(fs::path(decoder.Files().back().path).parent_path());
    EXPECT_EQ(SourceOf(GetRawPicThumb(node)), "file");
}

TEST(PreviewFolderNames, FoundNamesBecomeOneHarmlessComponent) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"IMG_0001.JPG", "IMG_0001.JPG"},
        {"../x", "_._x"},
        {"a/b", "a_b"},
        {"..", "_."},
        {".hidden.psd", "_hidden.psd"},
        {"", "file"},
        {"caf\xc3\xa9 ol\xc3\xa9.mov", "caf___ol__.mov"},
        {std::string(100, 'a') + ".cr2", std::string(60, 'a') + ".cr2"},
        {std::string("nul\0byte", 8), "nul_byte"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(PreviewFolder::SanitisedName(name), expected) << name;
}

TEST_F(PreviewTest, LiveFilesAreReadFromTheirMountPoint) {
    TempDir kernel;
    testsupport::FakeKernelTree fake(kernel.path());
    TempDir mount;
    fake.AddMount(major(kVolumeNumber), minor(kVolumeNumber), mount.str());
    fs::create_directories(mount / "DCIM");
    testsupport::WriteFile(mount / "DCIM/live.jpg", Picture(1000, 500, 5000));
    ledger.contents["live.jpg"] = Picture(20, 20);
    ledger.contents["gone.jpg"] = Picture(30, 30);
    Scan({{"DCIM/live.jpg", 5000, kJuly2019, kJuly2019, 0}, {"DCIM/gone.jpg", 5000, kJuly2019, kJuly2019, kFakeDeleted}},
         false, fake.Roots());

    EXPECT_EQ(preview::LiveFilePath(Node("DCIM/live.jpg")), (mount / "DCIM/live.jpg").string());
    EXPECT_EQ(preview::LiveFilePath(Node("DCIM/gone.jpg")), std::nullopt) << "deleted";
    IconImage image = GetPictureThumb(Node("DCIM/live.jpg"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 192);
    EXPECT_EQ(image->Height(), 96);
    EXPECT_EQ(ledger.setRecoverNode.load(), 0) << "the live file, not the device";
    image = GetPictureThumb(Node("DCIM/gone.jpg"));
    EXPECT_EQ(image->Width(), 30);
    EXPECT_EQ(ledger.setRecoverNode.load(), 1);

    // A name that could leave the mount point is never joined to it: the device is read instead.
    auto* live = static_cast<testsupport::FakeFileNode*>(Node("DCIM/live.jpg"));
    for (const char* name : {"..", ".", "a/../../x.jpg", ""}) {
        live->SetFileName(name);
        EXPECT_EQ(preview::LiveFilePath(live), std::nullopt) << name;
    }
    // A file changed or moved away since the scan is read through the device.
    live->SetFileName("live.jpg");
    testsupport::WriteFile(mount / "DCIM/live.jpg", Picture(1000, 500, 4999));
    ledger.Reset();
    EXPECT_EQ(GetPictureThumb(live)->Width(), 20);
    EXPECT_EQ(ledger.setRecoverNode.load(), 1);
    fs::remove(mount / "DCIM/live.jpg");
    ledger.Reset();
    image = GetPictureThumb(live);
    EXPECT_EQ(image->Width(), 20);
    EXPECT_EQ(ledger.setRecoverNode.load(), 1);
}

TEST_F(PreviewTest, UnmountedVolumesAreReadThroughTheDevice) {
    TempDir kernel;
    testsupport::FakeKernelTree fake(kernel.path());
    ledger.contents["live.jpg"] = Picture(20, 20);
    Scan({{"DCIM/live.jpg", 5000, kJuly2019, kJuly2019, 0}}, false, fake.Roots());
    EXPECT_EQ(preview::LiveFilePath(Node("DCIM/live.jpg")), std::nullopt);
    EXPECT_EQ(GetPictureThumb(Node("DCIM/live.jpg"))->Width(), 20);
}

TEST_F(PreviewTest, PreviewsFromThreeThreadsWhileARecoveryRuns) {
    std::vector<FakeFileRow> rows;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "p" + std::to_string(i) + (i % 3 == 0 ? ".cr2" : i % 3 == 1 ? ".jpg" : ".mp4");
        rows.push_back({"DCIM/" + name, 200000, kJuly2019, kJuly2019, kFakeDeleted});
        ledger.contents[name] = Picture(50 + i, 40);
    }
    Scan(rows);
    for (auto* file : tree->Files()) OpNodeData(file).setNodeState(CHECKED_ALL);
    // The recovery waits in its first copy until the previews are done.
    ledger.holdScanCopies = true;
    TempDir dest;
    int count = 0;
    u64 size = 0;
    window->Controller().GetSelectedFilesAmout(&count, &size);
    static const int kList = 0;
    ASSERT_EQ(window->Controller().DoRecovery(&kList, dest.str(), ui_notification::kDoRecovery), 0);

    std::atomic<int> wrong{0};
    auto loader = [&] {
        t_previewThread = true;
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 12; ++i) {
                const IconImage image = KXUIController::GetNSImageByFildNode(tree->Files()[size_t(i)]);
                if (!image || image->Width() != 50 + i) ++wrong;
            }
        }
    };
    std::thread first(loader);
    std::thread second(loader);
    loader();
    t_previewThread = false;
    first.join();
    second.join();
    EXPECT_TRUE(window->Controller().IsRecoveryRunning()) << "the previews ran beside the recovery";
    ledger.holdScanCopies = false;
    ASSERT_TRUE(window->RunUntilRecoveryEnds());
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(window->Controller().GetRecoveridedFiles(), 12u);
    EXPECT_GT(ledger.callsOnScanObjects.load(), 0) << "the recovery copied through the scan's objects";
    EXPECT_EQ(ledger.previewCallsOnScanObjects.load(), 0) << "no preview touched them";
    EXPECT_EQ(ledger.duplicates.load(), 36 * 3);
    EXPECT_TRUE(FolderEntries().empty());
}

}  // namespace
