// The result-tree arrays during a quick scan of the FAT32 benchmark image (bench/fat/make-image.sh,
// 100,000 files) through the operations layer: the scan with the window's four arrays handed over and
// all four trees read on every "NormalScranValue", against the same scan with no arrays handed over,
// in the same run. Prints the ratio (no arrays / arrays; 1 means the arrays cost nothing) and the
// longest main-thread rebuild of the arrays.
// Usage: bridge_trees [folder for the image] [files] [rounds]
//        bridge_trees --smoke FOLDER   (the test run's check: 300 files)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "BridgeBench.h"
#include "QuickBench.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UIControllerAdapter.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/Utility/IFileNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#ifdef BRELVOX_BENCH_FAKE_ENGINE
#include "support/FakeEnumDevice.h"
#include "support/FakeFileTree.h"
#include "support/FakeRecovery.h"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bridgebench::ImageEnumerator;
using bridgebench::MainThread;
using bridgebench::MakeImage;
using quickbench::Median;
using quickbench::QuietStdout;
using quickbench::Seconds;
using TreeArray = KXUIController::TreeArray;

// The controller's arrays, each main-thread rebuild timed.
class TimedArrays : public IResultTreeArrays {
public:
    TimedArrays() { SetResultTreeArrays(this); }
    ~TimedArrays() override { SetResultTreeArrays(nullptr); }
    void RebuildForRefresh(int force) override {
        const auto start = Clock::now();
        KXUIController::Trees().RebuildForRefresh(force);
        longest = std::max(longest, Seconds(Clock::now() - start));
        ++rebuilds;
    }
    void Reset() override { KXUIController::Trees().Reset(); }
    double longest = 0;
    int rebuilds = 0;
};

size_t CountNodes(const OpNodeData& node) {
    size_t n = 1;
    for (const auto& child : node.children())
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child); sub && *sub) n += CountNodes(**sub);
    return n;
}

size_t CountHeld(const OpNodeData& node) {
    size_t n = 0;
    for (const auto& child : node.children()) {
        const auto* sub = std::get_if<OpNodeData::Ptr>(&child);
        n += sub ? (*sub ? CountHeld(**sub) : 0) : 1;
    }
    return n;
}

// What a window reads of a tree: every node once.
size_t Read(const TreeArray& array) {
    size_t n = 0;
    for (const auto& node : array) n += CountHeld(*node);
    return n;
}

struct Run {
    double scan = -1;
    double longest = 0;
    int rebuilds = 0;
    size_t files = 0;     // held by the type tree at the end
    size_t folders = 0;   // path-tree nodes at the end
};

// The engine and devices of a run: the image through the engine, or a fake engine's files.
struct Source {
    KXUIDeviceData::Config devices;
    KXUIScan::ControllerFactory controllers;
};

Source ImageSource(const std::string& image) {
    Source source;
    source.devices.enumerator = [image]() -> std::unique_ptr<IEnumDeviceEx> {
        return std::make_unique<ImageEnumerator>(image);
    };
    return source;
}

Run Scan(const Source& source, bool handOver, bool deep) {
    Run run;
    QuietStdout quiet;
    MainThread main;
    // The trees read the scan through the application's controller.
    UIControllerAdapter adapter;
    SetUIController(&adapter);
    TimedArrays timed;
    TreeArray path, type, created, modified;
    const KXUIController::TreeArrays all = {{KXUIController::kKeyNodePath, &path},
                                            {KXUIController::kKeyNodeType, &type},
                                            {KXUIController::kKeyNodeCreateTime, &created},
                                            {KXUIController::kKeyNodeModifyTime, &modified}};
    const KXUIController::TreeArrays none;
    KXUIController::KXSetTreeNodeData(handOver ? &all : &none);
    size_t read = 0;
    main.centre.AddObserver(&read, "NormalScranValue", nullptr, [&](const auto&) {
        SimpleLock hold(&g_lockerAddData);
        for (const TreeArray* array : {&path, &type, &created, &modified}) read += Read(*array);
    });
    KXUIDeviceData::instance().Configure(source.devices);
    KXUIScan::instance().SetControllerFactory(source.controllers);
    if (!KXUIDeviceData::instance().InitDeviceInfo()) {
        SetUIController(nullptr);
        return run;
    }
    KXUIController::initFileType();
    KXUIController::SetRecoveryType(127);
    KXUIScan::instance().SetDeepScan(deep ? 1 : 0);
    const auto start = Clock::now();
    if (!KXUIController::DoScanWithDiskIndex(0, 0, "NormalScranValue")) {
        SetUIController(nullptr);
        return run;
    }
    main.RunUntil([] { return !KXUIController::IsScanRunning() && !KXUIController::IsScanWorkerAlive(); });
    run.scan = Seconds(Clock::now() - start);
    KXUIController::JoinWorkers();
    main.queue.Pump();
    main.centre.RemoveObserver(&read);
    {
        SimpleLock hold(&g_lockerAddData);
        run.files = Read(type);
        for (const auto& root : path) run.folders += CountNodes(*root);
    }
    run.longest = timed.longest;
    run.rebuilds = timed.rebuilds;
    KXUIController::KXSetTreeNodeData(&none);
    KXUIController::KXResetTreeNodeData();
    KXTypeMgr::share().clear();
    KXTimeMgr::share().clear();
    KXUIScan::instance().SetControllerFactory(nullptr);
    SetUIController(nullptr);
    return run;
}

// Rounds of the scan without and with arrays; prints the medians, the ratio and the longest rebuild.
void Compare(const char* kind, const Source& source, bool deep, int rounds) {
    std::vector<double> with, without;
    double longest = 0;
    Run last;
    for (int r = 0; r < rounds; ++r) {
        without.push_back(Scan(source, false, deep).scan);
        last = Scan(source, true, deep);
        with.push_back(last.scan);
        longest = std::max(longest, last.longest);
    }
    const double w = Median(with), n = Median(without);
    std::printf("%s, no arrays handed over:             %.3f s\n", kind, n);
    std::printf("%s, four arrays read on every refresh: %.3f s  (%d rebuilds; %zu files in the type tree, "
                "%zu path nodes)\n",
                kind, w, last.rebuilds, last.files, last.folders);
    std::printf("%s: no arrays / arrays = %.2f (target >= 0.8); longest main-thread rebuild %.1f ms (target <= 50)\n",
                kind, n / w, longest * 1000);
}

#ifdef BRELVOX_BENCH_FAKE_ENGINE
// The quick scan lists only the image's deleted files: a fake engine publishes all the files (in
// folders of 200, over 1000 batches a few milliseconds apart) so that every tree grows during the scan.
void FakeEngineRuns(int files, int rounds) {
    std::vector<testsupport::FakeFileRow> rows;
    rows.reserve(size_t(files));
    for (int i = 0; i < files; ++i) {
        static const char* const kExtensions[] = {".jpg", ".doc", ".txt", ".mp3", ".zip", ".xyz"};
        const i64 when = 1230000000 + i64(i) * 4700;  // 2008-2023
        char path[96];
        std::snprintf(path, sizeof path, "tree/folder %04d/file %06d%s", i / 200, i, kExtensions[i % 6]);
        rows.push_back({path, 100 + i % 5000, testsupport::FakeFileTime(when), testsupport::FakeFileTime(when + 86400),
                        testsupport::kFakeDeleted});
    }
    auto tree = std::make_shared<testsupport::FakeFileTree>("BENCH", SEARCHER_FAT, rows);
    testsupport::FakeEnumDevice::Volume volume;
    volume.name = "BENCH";
    volume.kernelName = "sdb1";
    volume.fileSystem = FILE_SYSTEM_FAT32;
    testsupport::FakeEnumDevice::Disk disk;
    disk.name = "Bench Stick";
    disk.kernelName = "sdb";
    disk.sectors = 1 << 20;
    disk.volumes = {volume};
    Source source;
    source.devices.enumerator =
        testsupport::FakeEnumeratorFactory({disk}, 0, std::make_shared<testsupport::FakeReadControl>());
    testsupport::CallLog log;
    source.controllers = testsupport::FakeControllerFactory({.blocks = 1000, .blockMs = 4, .tree = tree}, &log);
    Compare("fake engine, 1000 batches", source, false, rounds);
}
#endif

int Smoke(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::remove(folder / "fat32-bench-300.img", ec);
    const std::string image = MakeImage(folder, 300);
    if (image.empty()) return 1;
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    const Run with = Scan(ImageSource(image), true, false);
    const Run without = Scan(ImageSource(image), false, false);
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
    std::printf("smoke: arrays %.3f s (%d rebuilds, longest %.1f ms, %zu files in the type tree, %zu path nodes); "
                "no arrays %.3f s\n",
                with.scan, with.rebuilds, with.longest * 1000, with.files, with.folders, without.scan);
    const bool ok = with.scan >= 0 && without.scan >= 0 && with.rebuilds > 0 && with.files > 0 && without.files == 0;
    if (!ok) std::fprintf(stderr, "smoke run failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--smoke") == 0) return Smoke(argv[2]);
    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path();
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    const std::string image = MakeImage(folder, files);
    if (image.empty()) return 1;
    quickbench::TimeCommand("cat '" + image + "' > /dev/null");  // page cache warm
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    std::printf("%s, %d files, median of %d rounds\n", image.c_str(), files, rounds);
    // The quick scan lists the deleted files; the deep scan rebuilds the volume and lists every file.
    Compare("quick scan", ImageSource(image), false, rounds);
    Compare("deep scan", ImageSource(image), true, rounds);
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
#ifdef BRELVOX_BENCH_FAKE_ENGINE
    FakeEngineRuns(files, rounds);
#endif
    return 0;
}
