// Saved scan results end to end, through the controller as the windows call it: real images as USB
// disks of a fake kernel tree, scanned, saved, loaded again and saved once more; the loaded trees, the
// re-saved records and a recovery from the loaded result are compared with what the scan gave.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "SaveRestoreTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/SaveRestore/KXSaveAndRestoreNodeOperate.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/Utility/IFilesystemNode.h"
#include "bridge/SaveRestore/HFSPlusVolumeCache.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/CarvingManifest.h"
#include "support/CompressedNtfsFixture.h"
#include "support/FakeEnumDevice.h"
#include "support/HfsPlusFixtures.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"

namespace {

namespace fs = std::filesystem;
using namespace saved_result;
using testsupport::FakeWindowSide;
using testsupport::TempDir;
using testsupport::UsbStick;
using ui_notification::kDoRecovery;
using ui_notification::kInitFinished;
using ui_notification::kNormalScanValue;
using ui_notification::kQueryProgressFinish;

constexpr const char* kQueryProgressInfo = "QueryProgressInfo";
const void* const kNodeList = &kNodeList;

// Per partition root (searcher type, volume name): the records of every node below it.
using TreeRecords = std::map<std::pair<int, std::string>, std::multiset<std::string>>;

void CollectRecords(IFileNode* folder, std::multiset<std::string>& out) {
    for (IFileNode* child = folder->GetFirstChild(); child; child = child->GetNextNode()) {
        out.insert(RecordOf(child));
        CollectRecords(child, out);
    }
}

// The scan's trees as records (sibling order does not count).
TreeRecords ScanTrees() {
    TreeRecords trees;
    for (IFilesystemNode* root : KXUIScan::instance().GetFileSystemNode()) {
        const char* volume = root->GetVolumeName();
        CollectRecords(root, trees[{int(root->GetSearcheType()), volume ? volume : ""}]);
    }
    return trees;
}

// A saved file's trees and partition records, as records, read back through the restore sink.
struct SavedRecords {
    std::string framesOneAndTwo;
    std::multiset<std::string> nodes;
    std::map<int, std::multiset<std::string>> partitions;
};

SavedRecords ReadSaved(const std::string& path) {
    SavedRecords out;
    auto loaded = Load(path);
    EXPECT_EQ(loaded->code, 0u) << loaded->field;
    if (loaded->code != 0) return out;
    const SavedDevice& d = loaded->device;
    const size_t frames = 2 * kRSFrameHeaderSize + 12 + 8 + 12 + 4 + d.name.size() + 8 +
                          (d.dmgInfo ? d.dmgInfo->size() : 0) + 8 + (d.ediInfo ? d.ediInfo->size() : 0);
    out.framesOneAndTwo = testsupport::ReadFile(path).substr(0, kRSHeaderSize + frames);
    for (const auto& [node, parent] : loaded->builder.accepted) out.nodes.insert(RecordOf(node));
    for (const auto& [type, id] : loaded->builder.roots)
        for (CSearchedPartitionInfo* record : loaded->sink->GetSearchedPartition(type))
            out.partitions[type].insert(PartitionRecordOf(*record));
    return out;
}

DiskVolumeNodeData::Rows Enumerate(FakeWindowSide& window) {
    window.Controller().NotifiyDeviceInfoAfterInit(kInitFinished);
    EXPECT_TRUE(window.RunUntil([&] { return window.Count(kInitFinished) == 1; }));
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    return rows;
}

// A save (true) or load of path through the controller, as the result and main windows start them;
// waits for the end and answers the operation's code.
u64 SaveOrLoad(FakeWindowSide& window, bool save, const std::string& path) {
    IUIController& ui = window.Controller();
    const size_t before = window.Count(kQueryProgressFinish);
    if (save) {
        ui.RestorPostUIUpdate(kQueryProgressInfo, 1);
        EXPECT_TRUE(ui.beginSaveOrRestoreNode(1, path, ""));
    } else {
        EXPECT_TRUE(ui.beginSaveOrRestoreNode(0, path, ""));
        EXPECT_TRUE(ui.IsScanRunning()) << "the load shows a running scan at once";
        ui.RestorPostUIUpdate(kNormalScanValue, 0);
    }
    EXPECT_TRUE(window.RunUntil([&] {
        return window.Count(kQueryProgressFinish) > before && !KXUIController::IsSaveOrLoadWorkerAlive() &&
               !ui.IsScanRunning();
    }));
    u64 total = 0, current = 0, code = 0;
    ui.GetSaveorRestoreProgress(&total, &current, &code, save);
    EXPECT_EQ(current, total) << "a finished operation reports its whole total";
    return code;
}

std::vector<IFileNode*> FoundFiles() {
    std::vector<IFileNode*> files;
    for (const auto& [category, nodes] : KXUIScan::instance().GetTypeMap())
        files.insert(files.end(), nodes.begin(), nodes.end());
    return files;
}

// Ticks every found file and recovers them under dest: file path below dest -> (SHA-256, mtime).
std::map<std::string, std::pair<std::string, i64>> RecoverAll(FakeWindowSide& window, const fs::path& dest) {
    for (IFileNode* node : FoundFiles()) OpNodeData(node).setNodeState(CHECKED_ALL);
    int count = 0;
    u64 size = 0;
    window.Controller().GetSelectedFilesAmout(&count, &size);
    EXPECT_GT(count, 0);
    EXPECT_EQ(window.Controller().DoRecovery(kNodeList, dest.string(), kDoRecovery), 0);
    EXPECT_TRUE(window.RunUntilRecoveryEnds());
    EXPECT_EQ(window.Last(kDoRecovery).failed, 0u);
    std::map<std::string, std::pair<std::string, i64>> files;
    for (const auto& f : fs::recursive_directory_iterator(dest)) {
        if (!f.is_regular_file()) continue;
        struct stat st {};
        ::stat(f.path().c_str(), &st);
        // Below the numbered folder of this recovery.
        const fs::path below = fs::relative(f.path(), dest);
        files[below.lexically_relative(*below.begin()).string()] = {
            testsupport::Sha256Hex(testsupport::ReadFile(f.path())), i64(st.st_mtime)};
    }
    return files;
}

// Saves the scan's result, recovers it, loads the saved result, compares its trees with the scan's,
// recovers again and compares the copies, saves the loaded result again and compares the records.
// Answers the recovery from the loaded result.
std::map<std::string, std::pair<std::string, i64>> RoundTrip(FakeWindowSide& window, const fs::path& dir) {
    const TreeRecords scanned = ScanTrees();
    EXPECT_FALSE(scanned.empty());
    const std::string first = (dir / "first.rsf").string(), second = (dir / "second.rsf").string();
    EXPECT_EQ(SaveOrLoad(window, true, first), 0u);
    const auto before = RecoverAll(window, dir / "before");

    EXPECT_EQ(SaveOrLoad(window, false, first), 0u);
    EXPECT_EQ(ScanTrees(), scanned) << "the loaded trees are the scanned ones, node for node";
    auto after = RecoverAll(window, dir / "after");
    // A file found without times (carved) is stamped with the time of its copy: no time to compare.
    const i64 started = i64(std::time(nullptr)) - 600;
    auto timesKnown = [&](std::map<std::string, std::pair<std::string, i64>> files) {
        for (auto& [path, file] : files)
            if (file.second >= started) file.second = 0;
        return files;
    };
    EXPECT_EQ(timesKnown(after), timesKnown(before)) << "the same bytes and times from the loaded result";

    EXPECT_EQ(SaveOrLoad(window, true, second), 0u);
    const SavedRecords a = ReadSaved(first), b = ReadSaved(second);
    EXPECT_TRUE(a.framesOneAndTwo == b.framesOneAndTwo) << "frames 1 and 2 byte for byte";
    EXPECT_EQ(a.nodes.size(), b.nodes.size());
    EXPECT_TRUE(a.nodes == b.nodes) << "the same node records";
    EXPECT_EQ(a.partitions, b.partitions) << "the same partition records";
    return after;
}

TEST(SaveLoadRoundTrip, AQuickScanOfTheFatVolume) {
    TempDir dir;
    UsbStick stick(dir / "kernel", fattest::Image("mbr-fat16"), UsbStick::Partition{.start = 2048, .sectors = 36864});
    FakeWindowSide window({.devices = stick.Devices()});
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows[0]->children() && rows[0]->children()->size() == 1);
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    ASSERT_TRUE(window.Controller().DoScanWithData(rows[0]->children()->front().get(), kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    ASSERT_FALSE(FoundFiles().empty());

    const auto recovered = RoundTrip(window, dir.path());
    // The loaded result's copies against The Sleuth Kit's bytes.
    std::map<std::string, std::string> sums;
    for (const auto& [path, sum] : fattest::IcatSums("mbr-fat16")) sums[fattest::Comparable(path)] = sum;
    ASSERT_FALSE(recovered.empty());
    for (const auto& [path, file] : recovered) {
        const std::string below = fs::path(path).lexically_relative(*fs::path(path).begin()).string();
        EXPECT_EQ(file.first, sums[fattest::Comparable(below)]) << path;
    }
}

TEST(SaveLoadRoundTrip, ADeepScanOfTheCarvingCorpusARawRootWithoutPartitions) {
    TempDir dir;
    UsbStick stick(dir / "kernel", testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path()),
                   std::nullopt, 8 * 1024 * 1024);
    FakeWindowSide window({.devices = stick.Devices()});
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    ASSERT_TRUE(window.Controller().DoDeepScanWithData(rows[0].get(), kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
    bool raw = false;
    for (IFilesystemNode* root : KXUIScan::instance().GetFileSystemNode()) raw |= root->GetSearcheType() == SEARCHER_RAW;
    ASSERT_TRUE(raw);

    const auto recovered = RoundTrip(window, dir.path());
    EXPECT_TRUE(KXUIController::IsDeepScan());
    // Every planted JPEG of the corpus comes back from the loaded result.
    std::multiset<std::string> sums;
    for (const auto& [path, file] : recovered) sums.insert(file.first);
    size_t jpegs = 0;
    for (const auto& p : testsupport::ReadCarvingManifest(true)) {
        if (p.type != "JPG" || p.check != "exact") continue;
        ++jpegs;
        EXPECT_TRUE(sums.count(p.sha256)) << p.name;
    }
    EXPECT_GT(jpegs, 0u);
}

// Volume images as the volumes of one USB disk of a fake enumeration.
KXUIDeviceData::Config VolumeDisk(const std::vector<std::tuple<std::string, u32, fs::path>>& volumes) {
    testsupport::FakeEnumDevice::Disk disk;
    disk.name = "Test Disk";
    disk.kernelName = "sdb";
    disk.sectors = 0;
    int n = 1;
    for (const auto& [name, fileSystem, image] : volumes) {
        const std::string bytes = testsupport::ReadFile(image);
        testsupport::FakeEnumDevice::Volume v;
        v.name = name;
        v.kernelName = "sdb" + std::to_string(n++);
        v.fileSystem = fileSystem;
        v.sectors = i64(bytes.size() / 512);
        v.bytes = std::make_shared<const std::vector<u8>>(bytes.begin(), bytes.end());
        disk.volumes.push_back(v);
        disk.sectors += v.sectors + 2048;
    }
    KXUIDeviceData::Config config;
    config.enumerator = testsupport::FakeEnumeratorFactory({disk});
    return config;
}

// A quick (or deep) scan of the row (the disk, or its first volume).
void QuickScanRow(FakeWindowSide& window, bool wholeDisk, bool deep = false) {
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows[0]->children() && !rows[0]->children()->empty());
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    const DiskVolumeNodeData* row = wholeDisk ? rows[0].get() : rows[0]->children()->front().get();
    if (deep) {
        ASSERT_TRUE(window.Controller().DoDeepScanWithData(row, kNormalScanValue));
    } else {
        ASSERT_TRUE(window.Controller().DoScanWithData(row, kNormalScanValue));
    }
    ASSERT_TRUE(window.RunUntilScanEnds());
    ASSERT_FALSE(FoundFiles().empty());
}

std::multiset<std::string> Sums(const std::map<std::string, std::pair<std::string, i64>>& recovered) {
    std::multiset<std::string> sums;
    for (const auto& [path, file] : recovered) sums.insert(file.first);
    return sums;
}

TEST(SaveLoadRoundTrip, AQuickScanOfTheNtfsVolumeWithAFileInManyRunsAndACompressedFile) {
    TempDir dir;
    const fs::path image = testsupport::UnpackXz(testsupport::FixturePath("ntfs/ntfs512.img.xz"), dir.path());
    FakeWindowSide window({.devices = VolumeDisk({{"BRELVOX", FILE_SYSTEM_NTFS, image}})});
    QuickScanRow(window, false);
    const auto sums = Sums(RoundTrip(window, dir.path()));
    // The deleted file in many runs, against icat's bytes.
    EXPECT_TRUE(sums.count("06e1abad436075c9693ccd5101c582fd128cb5c6776a18fb2f9d262600e4de7c")) << "frag.bin";
}

TEST(SaveLoadRoundTrip, ADeepScanOfTheVolumeOfCompressedNtfsFiles) {
    TempDir dir;
    const auto fixture = testsupport::LoadCompressedNtfsFixture(dir.path());
    FakeWindowSide window({.devices = VolumeDisk({{"comp", FILE_SYSTEM_NTFS, fixture.image}})});
    QuickScanRow(window, false, true);
    const auto sums = Sums(RoundTrip(window, dir.path()));
    for (const auto& file : fixture.files) EXPECT_TRUE(sums.count(file.sha256)) << file.name;
}

TEST(SaveLoadRoundTrip, QuickScansOfHfsPlusVolumesReadCompressedFilesThroughTheirOwnVolume) {
    const auto planted = testsupport::hfs::FixturePlanted("journaled");
    const fs::path image = testsupport::hfs::FixtureImage("journaled");
    for (size_t copies : {1u, 2u}) {
        SCOPED_TRACE(copies);
        TempDir dir;
        std::vector<std::tuple<std::string, u32, fs::path>> volumes(copies, {"JOURNALED", FILE_SYSTEM_HFSPLUS, image});
        FakeWindowSide window({.devices = VolumeDisk(volumes)});
        // Two volumes: the whole disk, scanned volume by volume.
        QuickScanRow(window, copies == 2);
        ASSERT_EQ(KXUIScan::instance().GetFileSystemNode().size(), copies);
        const auto sums = Sums(RoundTrip(window, dir.path()));
        size_t compressed = 0;
        for (const auto& p : planted) {
            if (!p.deleted || p.size == 0) continue;
            compressed += p.compression != 0;
            EXPECT_GE(sums.count(p.sha256), copies) << p.path;
        }
        EXPECT_GE(compressed, 4u);
        // Each loaded root reads through a volume of its own partition.
        auto& cache = SaveRestoreResult::HFSPlusVolumeCache::Instance();
        EXPECT_EQ(cache.Size(), copies);
        std::set<IStorageDevice*> devices;
        for (IFilesystemNode* root : KXUIScan::instance().GetFileSystemNode()) {
            CHFSPlusVolume* volume = cache.Find(root);
            ASSERT_NE(volume, nullptr);
            devices.insert(volume->GetDevice());
        }
        EXPECT_EQ(devices.size(), copies);
        for (size_t i = 0; i < copies; ++i)
            EXPECT_TRUE(devices.count(KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, int(i))));
    }
}

}  // namespace
