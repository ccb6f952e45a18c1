// The road from "scan this device" to "these files are recovered" on real images, through the
// controller as a window calls it: the FAT image and the carving corpus as USB disks of a fake kernel
// tree, enumerated by the engine, scanned by the engine, copied by the data-recovery objects, and
// checked against The Sleuth Kit's listings and the corpus manifest.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "../SaveRestore/SaveRestoreTestSupport.h"
#include "../Trees/TreesTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXMakeDMG.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/SaveRestore/SavedResultFile.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/CarvingManifest.h"
#include "support/FakeEnumDevice.h"
#include "support/FakeKernelTree.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FakeKernelTree;
using testsupport::FakeWindowSide;
using testsupport::TempDir;
using ui_notification::kDoRecovery;
using ui_notification::kInitFinished;
using ui_notification::kNormalScanValue;

constexpr u64 kVolumeStart = 2048;
constexpr u64 kVolumeSectors = 36864;
const void* const kNodeList = &kNodeList;

using testsupport::UsbStick;

// The FAT image as a USB stick: its disk and its FAT16 partition.
UsbStick FatStick(const fs::path& root, const fs::path& image, UsbStick::Partition partition = {}) {
    partition.start = kVolumeStart;
    partition.sectors = kVolumeSectors;
    return UsbStick(root, image, partition);
}

// Enumerates the devices as the main window does, and answers the device page's rows.
DiskVolumeNodeData::Rows Enumerate(FakeWindowSide& window) {
    window.Controller().NotifiyDeviceInfoAfterInit(kInitFinished);
    EXPECT_TRUE(window.RunUntil([&] { return window.Count(kInitFinished) == 1; }));
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    return rows;
}

std::vector<IFileNode*> FoundFiles() {
    std::vector<IFileNode*> files;
    for (const auto& [category, nodes] : KXUIScan::instance().GetTypeMap()) files.insert(files.end(), nodes.begin(), nodes.end());
    return files;
}

// The path of a found node below its root, as The Sleuth Kit names it (compared through Comparable).
std::string FoundPath(IFileNode* node) {
    std::string path;
    for (IFileNode* at = node; at && at->GetParent(); at = at->GetParent())
        path = std::string(at->GetFileName()) + (path.empty() ? "" : "/") + path;
    return path;
}

// Ticks every found file through the result window's tree nodes.
void TickAll() {
    for (IFileNode* node : FoundFiles()) OpNodeData(node).setNodeState(CHECKED_ALL);
}

// The path of a file under dest without its first skip folders (the numbered one, the volume's).
std::string Below(const fs::path& dest, const fs::path& file, size_t skip) {
    fs::path below;
    size_t i = 0;
    for (const auto& part : fs::relative(file, dest))
        if (i++ >= skip) below /= part;
    return below.string();
}

// Every regular file under dest: its path below the numbered folder and the volume folder -> bytes.
std::map<std::string, std::string> Recovered(const fs::path& dest, size_t skip = 2) {
    std::map<std::string, std::string> files;
    for (const auto& f : fs::recursive_directory_iterator(dest))
        if (f.is_regular_file()) files[Below(dest, f.path(), skip)] = testsupport::ReadFile(f.path());
    return files;
}

// "2021-03-04 05:06:08 (UTC)" -> Unix seconds (the tests run in UTC).
i64 FlsSeconds(const std::string& text) {
    std::tm tm{};
    std::istringstream in(text);
    in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
    return i64(timegm(&tm));
}

// fls -r -p -l: path -> (creation time, size).
std::map<std::string, std::pair<i64, i64>> FlsTimes(const std::string& name) {
    std::map<std::string, std::pair<i64, i64>> out;
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("fat/" + name + ".fls-l.txt")));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) f.push_back(field);
        if (f.size() < 8) continue;
        out[fattest::Comparable(f[1])] = {FlsSeconds(f[5]), std::stoll(f[6])};
    }
    return out;
}

i64 MTime(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? i64(st.st_mtime) : -1;
}

// Scans the volume row quickly and waits for the end.
void QuickScan(FakeWindowSide& window, const DiskVolumeNodeData* row) {
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    ASSERT_TRUE(window.Controller().DoScanWithData(row, kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());
}

i64 Recover(FakeWindowSide& window, const fs::path& dest) {
    int count = 0;
    u64 size = 0;
    window.Controller().GetSelectedFilesAmout(&count, &size);
    const i64 code = window.Controller().DoRecovery(kNodeList, dest.string(), kDoRecovery);
    if (code == 0) {
        EXPECT_TRUE(window.RunUntilRecoveryEnds());
    }
    return code;
}

TEST(EndToEnd, TheDeletedFilesOfTheFatImageAreFoundAndRecoveredWithTheirBytesAndTimes) {
    TempDir dir;
    UsbStick stick = FatStick(dir / "kernel", fattest::Image("mbr-fat16"));
    FakeWindowSide window({.devices = stick.Devices()});
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->diskIndex(), 0);
    EXPECT_TRUE(rows[0]->isUSB());
    ASSERT_NE(rows[0]->children(), nullptr);
    ASSERT_EQ(rows[0]->children()->size(), 1u);
    const DiskVolumeNodeData* volume = rows[0]->children()->front().get();
    EXPECT_EQ(volume->name(), "INSIDE");
    EXPECT_EQ(volume->fileSystem(), int(FILE_SYSTEM_FAT16));
    EXPECT_EQ(volume->diskPath(), "/dev/sdb1");

    QuickScan(window, volume);
    const auto last = window.Last(kNormalScanValue);
    EXPECT_FALSE(last.scanRunning);
    EXPECT_DOUBLE_EQ(last.percent, 100.0);
    EXPECT_EQ(KXUIScan::instance().GetStatus(), u32(OP_IDLE));

    // Exactly the files fls marks deleted.
    std::set<std::string> deleted;
    for (const auto& e : fattest::FlsListing("mbr-fat16"))
        if (e.deleted && !e.directory) deleted.insert(fattest::Comparable(e.path));
    std::set<std::string> found;
    for (IFileNode* node : FoundFiles()) found.insert(fattest::Comparable(FoundPath(node)));
    EXPECT_EQ(found, deleted);
    const auto times = FlsTimes("mbr-fat16");
    u64 bytes = 0;
    for (const std::string& path : deleted) bytes += u64(times.at(path).second);
    u64 size = 0, count = 0;
    window.Controller().GetScanFileSize(&size, &count);
    EXPECT_EQ(count, deleted.size());
    EXPECT_EQ(size, bytes);
    EXPECT_EQ(last.scanCount, deleted.size());

    TickAll();
    const fs::path dest = dir / "recovered";
    ASSERT_EQ(Recover(window, dest), 0);
    const auto sums = fattest::IcatSums("mbr-fat16");
    std::map<std::string, std::string> expected;
    for (const auto& [path, sum] : sums) expected[fattest::Comparable(path)] = sum;
    const auto files = Recovered(dest);
    ASSERT_EQ(files.size(), deleted.size());
    for (const auto& [path, content] : files) {
        SCOPED_TRACE(path);
        const std::string key = fattest::Comparable(path);
        ASSERT_TRUE(deleted.count(key));
        EXPECT_EQ(testsupport::Sha256Hex(content), expected.at(key));
    }
    // Times: the found creation time, stamped as the file's modification time.
    for (const auto& f : fs::recursive_directory_iterator(dest)) {
        if (!f.is_regular_file()) continue;
        const std::string path = Below(dest, f.path(), 2);
        EXPECT_EQ(MTime(f.path()), times.at(fattest::Comparable(path)).first) << path;
    }
    const auto end = window.Last(kDoRecovery);
    EXPECT_EQ(end.copied, deleted.size());
    EXPECT_EQ(end.failed, 0u);
    EXPECT_EQ(end.skipped, 0u);
    EXPECT_EQ(end.recoveryCode, 0);
}

TEST(EndToEnd, HostileNamesFromTheImageStayInsideTheDestination) {
    struct Case {
        const char* label;
        const char* patches;  // a hostile.tsv case, or none
        std::vector<std::string> udev{};
        std::string expected;  // a path that must be among the recovered ones (below the numbered folder)
    };
    const Case cases[] = {
        {"a folder named ..", "mbr-fat16-long-name-dotdot", {}, "INSIDE/_/inside one.txt"},
        {"a file named a/b", "mbr-fat16-long-name-slash", {}, "INSIDE/Docs/Nested/#ONEAW~1.TXT"},
        {"a volume labelled ../../escape", nullptr, {"ID_FS_LABEL=../../escape"}, ".._.._escape/Deleted Report.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const fs::path image = c.patches ? fattest::PatchedImage(c.patches, dir.path()) : fattest::Image("mbr-fat16");
        UsbStick stick = FatStick(dir / "kernel", image, {.udev = c.udev});
        FakeWindowSide window({.devices = stick.Devices()});
        const auto rows = Enumerate(window);
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_NE(rows[0]->children(), nullptr);
        QuickScan(window, rows[0]->children()->front().get());
        const size_t found = FoundFiles().size();
        ASSERT_GE(found, 6u);
        TickAll();
        const fs::path dest = dir / "out" / "recovered";
        fs::create_directories(dest);
        ASSERT_EQ(Recover(window, dest), 0);
        EXPECT_EQ(window.Last(kDoRecovery).copied, found);
        EXPECT_EQ(window.Last(kDoRecovery).failed, 0u);

        const auto files = Recovered(dest, 1);
        EXPECT_EQ(files.size(), found);
        EXPECT_TRUE(files.count(c.expected)) << c.expected;
        const std::string root = fs::canonical(dest).string() + "/";
        for (const auto& f : fs::recursive_directory_iterator(dest))
            EXPECT_EQ(fs::canonical(f.path()).string().rfind(root, 0), 0u) << f.path();
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1)
            << "nothing beside the destination";
        EXPECT_FALSE(fs::exists(dest / "a")) << "no folder made from a name";
    }
}

TEST(EndToEnd, ADestinationOnTheScannedPartitionIsRefused) {
    TempDir dir;
    const fs::path dest = dir / "recovered";
    fs::create_directories(dest);
    struct stat st {};
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    // The partition is the device that holds the destination.
    UsbStick stick = FatStick(dir / "kernel", fattest::Image("mbr-fat16"),
                              {.major = major(st.st_dev), .minor = minor(st.st_dev)});
    FakeWindowSide window({.devices = stick.Devices()});
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    QuickScan(window, rows[0]->children()->front().get());
    TickAll();
    EXPECT_TRUE(window.Controller().IsRecoveryToSameDevice(dest.string()));
    EXPECT_EQ(u64(Recover(window, dest)), KXUIRecovery::kDestinationOnScannedDevice);
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_FALSE(window.Controller().IsRecoveryRunning());
    // A device arriving re-enumerates the devices: the results, and the refusal, stay.
    ASSERT_TRUE(window.Controller().RefreshDeviceInfo());
    EXPECT_TRUE(window.Controller().IsRecoveryToSameDevice(dest.string()));
    EXPECT_EQ(u64(Recover(window, dest)), KXUIRecovery::kDestinationOnScannedDevice);
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST(EndToEnd, AScanResultIsNeverSavedOntoTheScannedPartition) {
    // The partition is the device of the destination's file system, or a device number it is not.
    for (const bool onScannedDevice : {true, false}) {
        SCOPED_TRACE(onScannedDevice ? "on the scanned partition" : "elsewhere");
        TempDir dir;
        const fs::path dest = dir / "saved";
        fs::create_directories(dest);
        struct stat st {};
        ASSERT_EQ(::stat(dest.c_str(), &st), 0);
        UsbStick::Partition partition;
        if (onScannedDevice) {
            partition = {.major = major(st.st_dev), .minor = minor(st.st_dev)};
        } else if (major(st.st_dev) == partition.major && minor(st.st_dev) == partition.minor) {
            ++partition.minor;
        }
        UsbStick stick = FatStick(dir / "kernel", fattest::Image("mbr-fat16"), partition);
        FakeWindowSide window({.devices = stick.Devices()});
        const auto rows = Enumerate(window);
        ASSERT_EQ(rows.size(), 1u);
        QuickScan(window, rows[0]->children()->front().get());
        IUIController& ui = window.Controller();
        EXPECT_EQ(ui.IsRecoveryToSameDevice(dest.string()), onScannedDevice);

        // As the export does it: the poll first, then the save.
        const std::string file = (dest / "result.Brelvox").string();
        ui.RestorPostUIUpdate("QueryProgressInfo", 1);
        EXPECT_EQ(ui.beginSaveOrRestoreNode(1, file, ""), !onScannedDevice);
        ASSERT_TRUE(window.RunUntil([&] {
            return window.Count(ui_notification::kQueryProgressFinish) == 1 && !KXUIController::IsSaveOrLoadWorkerAlive();
        }));
        u64 total = 0, current = 0, code = 0;
        ui.GetSaveorRestoreProgress(&total, &current, &code, true);
        EXPECT_EQ(current, total);
        if (onScannedDevice) {
            EXPECT_EQ(code, saved_result::kCodeOnScannedDevice);
            EXPECT_TRUE(fs::is_empty(dest)) << "nothing written";
        } else {
            EXPECT_EQ(code, 0u);
            const auto loaded = saved_result::Load(file);
            ASSERT_TRUE(loaded);
            EXPECT_EQ(loaded->code, 0u) << loaded->field;
            EXPECT_FALSE(loaded->builder.accepted.empty());
        }
    }
}

TEST(EndToEnd, AReadFailingInsideOneFileFailsThatFileOnly) {
    // The FAT volume in memory, its reads failing inside one file once the scan is done.
    auto control = std::make_shared<testsupport::FakeReadControl>();
    const std::string image = testsupport::ReadFile(fattest::Image("mbr-fat16"));
    auto volumeBytes = std::make_shared<std::vector<u8>>(image.begin() + kVolumeStart * 512,
                                                         image.begin() + (kVolumeStart + kVolumeSectors) * 512);
    testsupport::FakeEnumDevice::Volume volume;
    volume.name = "INSIDE";
    volume.kernelName = "sdb1";
    volume.fileSystem = FILE_SYSTEM_FAT16;
    volume.sectors = i64(kVolumeSectors);
    volume.bytes = volumeBytes;
    testsupport::FakeEnumDevice::Disk disk;
    disk.name = "Stick";
    disk.kernelName = "sdb";
    disk.sectors = i64(image.size() / 512);
    disk.volumes = {volume};
    KXUIDeviceData::Config devices;
    devices.enumerator = testsupport::FakeEnumeratorFactory({disk}, 0, control);
    FakeWindowSide window({.devices = devices});
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    QuickScan(window, rows[0]->children()->front().get());
    const size_t found = FoundFiles().size();

    IFileNode* victim = nullptr;
    for (IFileNode* node : FoundFiles())
        if (std::string(node->GetFileName()) == "Deleted Report.txt") victim = node;
    ASSERT_NE(victim, nullptr);
    auto* recovery = dynamic_cast<CDataRecovery*>(KXUIScan::instance().GetFileNodeDataRecover(victim).get());
    ASSERT_NE(recovery, nullptr);
    const CSearchedPartitionInfo* record = recovery->GetSearchedPartition()[0];
    IDataRunList* runs = static_cast<CFileNode*>(victim)->GetDataRunList();
    ASSERT_NE(runs, nullptr);
    const i64 first = record->m_cluster0Sector + runs->GetFirst()->start * record->m_sectorsPerCluster;
    control->failFrom = first + 2;  // the file's third sector
    control->failTo = first + 3;

    TickAll();
    TempDir dest;
    ASSERT_EQ(Recover(window, dest.path()), 0);
    const auto end = window.Last(kDoRecovery);
    EXPECT_EQ(end.failed, 1u);
    EXPECT_EQ(end.copied, found - 1);
    EXPECT_EQ(u64(end.recoveryCode), KXUIRecovery::kUnreadableData);
    const auto files = Recovered(dest.path());
    EXPECT_EQ(files.size(), found - 1);
    EXPECT_EQ(files.count("Deleted Report.txt"), 0u) << "no partial file";
}

// The carving corpus as a USB disk (padded with zeros: the enumeration lists disks of 8 MiB and
// more), deep scanned through the controller.
struct CarvingScan {
    CarvingScan() {
        stick.emplace(dir / "kernel", testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path()),
                      std::nullopt, 8 * 1024 * 1024);
        window.emplace(FakeWindowSide::Options{.devices = stick->Devices()});
    }
    void Scan() {
        const auto rows = Enumerate(*window);
        ASSERT_EQ(rows.size(), 1u);
        window->Controller().initFileType();
        window->Controller().SetRecoveryType(127);
        ASSERT_TRUE(window->Controller().DoDeepScanWithData(rows[0].get(), kNormalScanValue));
        ASSERT_TRUE(window->RunUntilScanEnds());
    }
    // Recovers the ticked files and checks that every planted JPEG is among the copies; their number.
    size_t RecoverAndCheckJpegs() {
        const fs::path dest = dir / "recovered";
        EXPECT_EQ(Recover(*window, dest), 0);
        EXPECT_EQ(window->Last(kDoRecovery).failed, 0u);
        std::vector<std::string> copies;
        for (const auto& f : fs::recursive_directory_iterator(dest))
            if (f.is_regular_file()) copies.push_back(testsupport::ReadFile(f.path()));
        size_t jpegs = 0;
        for (const auto& p : testsupport::ReadCarvingManifest(true)) {
            if (p.type != "JPG") continue;
            ++jpegs;
            SCOPED_TRACE(p.name);
            const bool exact = p.check == "exact";
            EXPECT_TRUE(std::any_of(copies.begin(), copies.end(), [&](const std::string& c) {
                if (exact && c.size() != size_t(p.size)) return false;
                return testsupport::Sha256Hex(exact ? c : c.substr(0, size_t(p.plantedSize))) == p.sha256;
            }));
        }
        EXPECT_GT(jpegs, 0u);
        return copies.size();
    }
    TempDir dir;
    std::optional<UsbStick> stick;
    std::optional<FakeWindowSide> window;
};

TEST(EndToEnd, EveryPlantedJpegOfTheCarvingCorpusIsRecoveredByADeepScan) {
    CarvingScan carving;
    carving.Scan();
    EXPECT_TRUE(carving.window->Controller().IsDeepScan());
    EXPECT_DOUBLE_EQ(carving.window->Last(kNormalScanValue).percent, 100.0);
    TickAll();
    carving.RecoverAndCheckJpegs();
}

// --- The result trees of a real scan, read as the window reads them ---

OpNodeData::Ptr ChildNamedJpg(const OpNodeData& root) {
    for (const auto& child : root.children())
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child); sub && *sub && (*sub)->name() == "jpg") return *sub;
    return nullptr;
}

using trees_test::WindowArrays;

// The files listed by the path tree, as paths below the partition root (Comparable).
std::set<std::string> PathTreeFiles(WindowArrays& arrays) {
    SimpleLock hold(&g_lockerAddData);
    std::multiset<std::string> listed;
    for (const auto& root : arrays.path) trees_test::ListedFiles(*root, "", listed);
    std::set<std::string> out;
    for (const std::string& path : listed) out.insert(fattest::Comparable(path));
    EXPECT_EQ(out.size(), listed.size()) << "no file listed twice";
    return out;
}

// Extension node name -> its files, and the files straight under the other-root ("").
std::map<std::string, std::multiset<IFileNode*>> ExtensionNodes(WindowArrays& arrays) {
    SimpleLock hold(&g_lockerAddData);
    std::map<std::string, std::multiset<IFileNode*>> out;
    for (const auto& root : arrays.type) {
        for (const auto& child : root->children()) {
            if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child))
                trees_test::HeldFiles(**sub, out[(*sub)->name()]);
            else
                out[""].insert(std::get<IFileNode*>(child));
        }
    }
    return out;
}

TEST(EndToEnd, TheTreesOfAQuickScanHoldTheDeletedFilesUnderTheirPathsAndExtensions) {
    TempDir dir;
    UsbStick stick = FatStick(dir / "kernel", fattest::Image("mbr-fat16"));
    FakeWindowSide window({.devices = stick.Devices()});
    WindowArrays arrays;
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    QuickScan(window, rows[0]->children()->front().get());

    std::set<std::string> deleted;
    for (const auto& e : fattest::FlsListing("mbr-fat16"))
        if (e.deleted && !e.directory) deleted.insert(fattest::Comparable(e.path));
    ASSERT_FALSE(deleted.empty());
    const std::set<std::string> listed = PathTreeFiles(arrays);
    EXPECT_EQ(listed, deleted);

    // Each extension node holds exactly the found files of its extension.
    std::map<std::string, std::multiset<IFileNode*>> expected;
    for (IFileNode* node : FoundFiles()) {
        const std::string ext = KXCPPPublic::instance().GetNodeExt(node);
        expected[KXTypeMgr::share().categoryOf(ext) ? ext : ""].insert(node);
    }
    auto nodes = ExtensionNodes(arrays);
    for (auto it = nodes.begin(); it != nodes.end();) it = it->second.empty() ? nodes.erase(it) : std::next(it);
    EXPECT_EQ(nodes, expected);
    EXPECT_TRUE(nodes.count("jpg") && nodes.count("txt"));

    // A search for part of a long name: exactly the files whose names hold it, in all four trees.
    std::set<std::string> matching;
    for (const std::string& path : deleted) {
        std::string name = path.substr(path.rfind('/') + 1);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (name.find("one") != std::string::npos) matching.insert(path);
    }
    ASSERT_EQ(matching.size(), 2u);
    IUIController& ui = window.Controller();
    const auto search = [&](const std::string& key) {
        const size_t before = window.Count(ui_notification::kDoSearchFinished);
        ASSERT_TRUE(ui.DoSearchWithString(key, ui_notification::kDoSearchValue));
        ASSERT_TRUE(window.RunUntil([&] { return window.Count(ui_notification::kDoSearchFinished) > before; }));
        ui.StopSearch();
        // The search thread may still be leaving after its posts: the next search waits for it.
        ASSERT_TRUE(window.RunUntil([] { return !KXUIController::IsSearchWorkerAlive(); }));
    };
    const auto names = [](const std::multiset<IFileNode*>& files) {
        std::set<std::string> out;
        for (IFileNode* f : files) out.insert(fattest::Comparable(FoundPath(f)));
        return out;
    };
    search("ONE");
    EXPECT_EQ(PathTreeFiles(arrays), matching);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.type)), matching);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.created)), matching);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.modified)), matching);
    search("");
    EXPECT_EQ(PathTreeFiles(arrays), deleted);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.type)), deleted);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.created)), deleted);
    EXPECT_EQ(names(trees_test::HeldFiles(arrays.modified)), deleted);
}

TEST(EndToEnd, TheJpgNodeOfADeepScanOfTheCarvingCorpusHoldsEveryPlantedJpeg) {
    CarvingScan carving;
    WindowArrays arrays;
    carving.Scan();
    // Tick the "jpg" node alone and recover: every planted JPEG comes out of it.
    OpNodeData::Ptr jpg;
    {
        SimpleLock hold(&g_lockerAddData);
        for (const auto& root : arrays.type)
            if (auto sub = ChildNamedJpg(*root)) jpg = sub;
    }
    ASSERT_NE(jpg, nullptr);
    jpg->setNodeState(CHECKED_ALL);
    EXPECT_EQ(carving.RecoverAndCheckJpegs(), jpg->children().size());
}

// Date tree -> "YYYY/MM" -> the files of that month group.
std::map<std::string, std::set<std::string>> MonthGroups(const trees_test::TreeArray& roots) {
    SimpleLock hold(&g_lockerAddData);
    std::map<std::string, std::set<std::string>> out;
    for (const auto& root : roots)
        for (const auto& y : root->children())
            for (const auto& m : std::get<OpNodeData::Ptr>(y)->children()) {
                const auto& month = std::get<OpNodeData::Ptr>(m);
                auto& files = out[std::get<OpNodeData::Ptr>(y)->name() + "/" + month->name()];
                for (const auto& f : month->children())
                    files.insert(fattest::Comparable(FoundPath(std::get<IFileNode*>(f))));
            }
    return out;
}

TEST(EndToEnd, TheDateTreesOfAQuickScanGroupTheDeletedFilesByTheirMonthsAsFlsReadsThem) {
    TempDir dir;
    UsbStick stick(dir / "kernel", fattest::Image("fat16-dates"), UsbStick::Partition{.start = 2048, .sectors = 20480});
    FakeWindowSide window({.devices = stick.Devices()});
    WindowArrays arrays;
    const auto rows = Enumerate(window);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_NE(rows[0]->children(), nullptr);
    QuickScan(window, rows[0]->children()->front().get());

    // fls -r -p -l: modification time in the third column, creation time in the sixth.
    std::map<std::string, std::set<std::string>> modified, created;
    std::set<int> years, months;
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("fat/fat16-dates.fls-l.txt")));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f.size() < 8 || f[0].rfind("r/r * ", 0) != 0) continue;
        const std::string path = fattest::Comparable(f[1]);
        modified[f[2].substr(0, 4) + "/" + f[2].substr(5, 2)].insert(path);
        created[f[5].substr(0, 4) + "/" + f[5].substr(5, 2)].insert(path);
        years.insert(std::stoi(f[2].substr(0, 4)));
        months.insert(std::stoi(f[2].substr(5, 2)));
    }
    EXPECT_EQ(years.size(), 16u) << "2009-2024";
    EXPECT_EQ(months.size(), 12u);
    EXPECT_EQ(MonthGroups(arrays.modified), modified);
    EXPECT_EQ(MonthGroups(arrays.created), created);
    // Years in order, each month group in order below its year.
    SimpleLock hold(&g_lockerAddData);
    std::vector<std::string> order;
    for (const auto& y : arrays.modified.front()->children()) order.push_back(std::get<OpNodeData::Ptr>(y)->name());
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(order.front(), "2009");
}

// Ticks every found file, recovers them into dest and expects each exactly sized JPEG of the carving
// manifest among the copies, byte for byte.
void RecoverAndExpectExactJpegs(FakeWindowSide& window, const fs::path& dest) {
    TickAll();
    ASSERT_EQ(Recover(window, dest), 0);
    std::set<std::string> copies;
    for (const auto& f : fs::recursive_directory_iterator(dest))
        if (f.is_regular_file()) copies.insert(testsupport::Sha256Hex(testsupport::ReadFile(f.path())));
    size_t jpegs = 0;
    for (const auto& p : testsupport::ReadCarvingManifest(true)) {
        if (p.type != "JPG" || p.check != "exact") continue;
        ++jpegs;
        EXPECT_TRUE(copies.count(p.sha256)) << p.name;
    }
    ASSERT_GT(jpegs, 0u);
}

// Disk images of any name open as Apple/flat images and scan like disks: copies of the carving corpus
// named .img, .raw and .dd join the device list, and a deep scan of each gives back every planted JPEG.
TEST(EndToEnd, ImagesOfAnyNameOpenAsDevicesAndGiveBackTheCorpusJpegs) {
    TempDir dir;
    const fs::path image = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    KXUIDeviceData::Config devices;
    devices.enumerator = testsupport::FakeEnumeratorFactory({}, 0);
    FakeWindowSide window({.devices = devices});
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    const std::vector<std::string> names = {"corpus.img", "corpus.raw", "corpus.dd"};
    for (const std::string& name : names) {
        fs::copy_file(image, dir / name);
        ASSERT_TRUE(window.Controller().KXOpenDmgFile((dir / name).string())) << name;
    }
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), names.size());

    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(rows[i]->capacity(), fs::file_size(image));
        ASSERT_TRUE(window.Controller().isEdiDoDeepScanWithData(rows[i].get(), kNormalScanValue));
        ASSERT_TRUE(window.RunUntilScanEnds());
        EXPECT_TRUE(window.Controller().IsDeepScan());

        RecoverAndExpectExactJpegs(window, dir / ("recovered-" + std::to_string(i)));
    }
}

// The carving corpus copied into an EDI image by the image writer, opened as a device and deep-scanned:
// every planted JPEG comes back from the copy byte for byte.
TEST(EndToEnd, AnEdiCopyOfTheCorpusScansLikeTheDisk) {
    TempDir dir;
    const fs::path image = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    UsbStick stick(dir / "kernel", image, std::nullopt, 8 * 1024 * 1024);
    FakeWindowSide window({.devices = stick.Devices()});
    ASSERT_EQ(Enumerate(window).size(), 1u);
    KXMakeDMG& maker = KXMakeDMG::KXShareInstance();
    int code = 1;
    maker.setKXDelegate([&](const KXEdiProgress& p) { code = p.code; });
    const fs::path edi = dir / "corpus.edi";
    ASSERT_EQ(maker.KXStart(stick.tree.Node("sdb").string(), edi.string(), 0, -1, 0), 0);
    maker.WaitForJob();
    ASSERT_TRUE(window.RunUntil([&] { return !maker.IsBusy(); }));
    window.Pump();
    maker.setKXDelegate(nullptr);
    ASSERT_EQ(code, 0);

    ASSERT_TRUE(window.Controller().KXOpenEdiFile(edi.string()));
    ASSERT_TRUE(window.Controller().KXOpenEdiFile(edi.string()));
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), 2u) << "the disk and its image, once";
    window.Controller().initFileType();
    window.Controller().SetRecoveryType(127);
    ASSERT_TRUE(window.Controller().isEdiDoDeepScanWithData(rows[1].get(), kNormalScanValue));
    ASSERT_TRUE(window.RunUntilScanEnds());

    RecoverAndExpectExactJpegs(window, dir / "recovered");
}

}  // namespace
