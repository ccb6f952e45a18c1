// Saving and loading scan results, against `dd bs=1M` of the saved file in the same run:
//  - a tree of 1,000,000 nodes (1,000 folders of 999 files, one run each), saved through the save's
//    file writer and loaded through the restore sink into the engine's tree builder;
//  - the deep scan of the FAT32 benchmark image (bench/fat/make-image.sh, 100,000 files) through the
//    controller, then its save and its load through the controller as the windows start them (the
//    load's fixed 1 s pause and the tree builder's first-publish pause are injected to zero).
// Each phase reports its time and the process's peak resident memory during it (VmHWM, reset between
// phases through /proc/self/clear_refs).
// Usage: bridge_saveload [folder] [nodes] [fat files]
//        bridge_saveload --smoke FOLDER   (the test run's check: 20,000 nodes, no image, no dd)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BridgeBench.h"
#include "QuickBench.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/Clock.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/SaveRestore/RestoreFileNode.h"
#include "bridge/SaveRestore/RestoreScanSink.h"
#include "bridge/SaveRestore/SavedResultFile.h"
#include "bridge/Scan/KXUIScan.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/FileArchive/RSData.h"
#include "engine/Utility/DataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using quickbench::QuietStdout;
using quickbench::Seconds;
using quickbench::TimeCommand;
using SaveRestoreResult::RestoreFileNode;
using SaveRestoreResult::RestoreSystemNode;

// Peak resident memory since the last reset, in MiB.
double PeakMiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Phase {
    double seconds = -1;
    double peak = -1;
};

template <class Work>
Phase Measure(Work work) {
    ResetPeak();
    const auto start = Clock::now();
    if (!work()) return {};
    return {Seconds(Clock::now() - start), PeakMiB()};
}

// The tree: a FAT root, folders of files, each file one run.
struct Tree {
    std::unique_ptr<RestoreSystemNode> root;
    std::vector<std::unique_ptr<RestoreFileNode>> nodes;
    CSearchedPartitionInfo partition{512};

    explicit Tree(size_t count) : root(std::make_unique<RestoreSystemNode>()) {
        root->SetSearcherType(SEARCHER_FAT);
        root->SetVolumeName("BENCH");
        root->SetDirectory(1);
        root->SetCurrentNodeID(2);
        root->SetParentNodeID(1);
        partition.m_fileSystemType = 3;
        partition.m_sectorsPerCluster = 8;
        partition.m_totalSectors = 1 << 24;
        const size_t folders = std::max<size_t>(1, count / 1000);
        const size_t perFolder = count / folders - 1;
        nodes.reserve(count);
        i64 id = 100;
        for (size_t f = 0; f < folders; ++f) {
            auto folder = std::make_unique<RestoreFileNode>();
            folder->SetName("DIR" + std::to_string(f));
            folder->SetDirectory(1);
            folder->SetAttribute(0x10);
            folder->SetCurrentNodeID(id++);
            folder->SetParentNodeID(2);
            root->AddChild(folder.get());
            for (size_t i = 0; i < perFolder; ++i) {
                auto file = std::make_unique<RestoreFileNode>();
                char name[32];
                std::snprintf(name, sizeof name, "IMG_%06zu.JPG", i);
                file->SetName(name);
                file->SetSize(4096 * (i % 50 + 1));
                file->SetAttribute(0x20);
                file->SetDeleted(i % 3 == 0);
                file->SetTimes(130000000000000000 + i, 130000000000000000 + 2 * i, 130000000000000000 + 3 * i);
                file->SetCurrentNodeID(id++);
                file->SetParentNodeID(folder->GetCurrentNodeID());
                auto* runs = new SaveRestoreResult::CRestoredRunList(0);
                runs->AppendExact({i64(1000 + 64 * i), 50});
                file->SetDataRunList(runs);
                file->ShowNode(1);
                folder->AddChild(file.get());
                nodes.push_back(std::move(file));
            }
            nodes.push_back(std::move(folder));
        }
    }
};

// What the builder publishes: counted only.
class CountingTree : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, u32 count, int) override { shown += count; }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    size_t shown = 0;
    size_t roots = 0;
};

class NullProgress : public IProgress {
public:
    int UpdateProgress(_PROGRESS_INFO*) override { return 0; }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

bool SaveTree(const Tree& tree, const std::string& path) {
    saved_result::SavedDevice device;
    device.capacity = 1ull << 33;
    device.diskIndex = 0;
    device.name = "Benchmark Disk";
    const u32 code = saved_result::SaveScanResultFile(
        path, {0, 0}, device, {{tree.root.get(), {const_cast<CSearchedPartitionInfo*>(&tree.partition)}}},
        [] { return true; }, nullptr);
    return code == 0;
}

// Reads the file back through the restore sink into the engine's tree builder; the nodes it holds.
size_t LoadTree(const std::string& path) {
    CRSData archive(RS_MODE_READ);
    if (!archive.StartRS(path.c_str(), 0)) return 0;
    saved_result::ReadSavedHeader(archive);
    saved_result::ReadScanKind(archive);
    saved_result::ReadDevice(archive);
    SaveRestoreResult::CRestoreScanSink sink(&archive);
    CountingTree shown;
    NullProgress progress;
    KXUIFilter::instance().ResetFilter(127);
    auto* builder = new CDirectoryTreeBuilder(true);
    builder->SetClock(nullptr, [](int) {});
    builder->Initialize("bench", &shown, KXUIFilter::instance().GetFilter());
    sink.SetDirecotryTreeBuilder(builder, &progress, nullptr);
    const size_t owned = builder->OwnedNodeCount();
    builder->Release();
    archive.EndRS();
    return sink.ErrorCode() == 0 ? owned : 0;
}

double DdSeconds(const std::string& path) {
    const std::string copy = path + ".dd";
    const double s = TimeCommand("dd if='" + path + "' of='" + copy + "' bs=1M conv=fsync status=none");
    fs::remove(copy);
    return s;
}

// The load's fixed 1 s wait returns at once; every other wait is real.
class NoLoadPause : public SystemClock {
public:
    void SleepFor(std::chrono::milliseconds duration) override {
        if (duration < std::chrono::seconds(1)) SystemClock::SleepFor(duration);
    }
};

struct ControllerRun {
    Phase scan, save, load;
    u64 files = 0, loadedFiles = 0;
    u64 bytes = 0;
};

ControllerRun FatThroughTheController(const std::string& image, const std::string& saved) {
    ControllerRun run;
    QuietStdout quiet;
    bridgebench::MainThread main;
    NoLoadPause clock;
    SetBridgeClock(&clock);
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    KXUIDeviceData::Config config;
    config.enumerator = [image]() -> std::unique_ptr<IEnumDeviceEx> {
        return std::make_unique<bridgebench::ImageEnumerator>(image);
    };
    KXUIDeviceData::instance().Configure(config);
    if (KXUIDeviceData::instance().InitDeviceInfo()) {
        KXUIController::initFileType();
        KXUIController::SetRecoveryType(127);
        run.scan = Measure([&] {
            // A deep scan lists every file of the volume, live and deleted.
            KXUIScan::instance().SetDeepScan(1);
            if (!KXUIController::DoScanWithDiskIndex(0, 0, "NormalScranValue")) return false;
            main.RunUntil([] { return !KXUIController::IsScanRunning() && !KXUIController::IsScanWorkerAlive(); });
            return true;
        });
        run.files = KXUIScan::instance().GetScanFileCnt();
        run.save = Measure([&] {
            if (!KXUIController::beginSaveOrRestoreNode(1, saved, "")) return false;
            main.RunUntil([] { return !KXUIController::IsSaveOrLoadWorkerAlive(); });
            return true;
        });
        run.bytes = fs::exists(saved) ? fs::file_size(saved) : 0;
        run.load = Measure([&] {
            if (!KXUIController::beginSaveOrRestoreNode(0, saved, "")) return false;
            main.RunUntil([] { return !KXUIController::IsSaveOrLoadWorkerAlive() && !KXUIController::IsScanRunning(); });
            return true;
        });
        run.loadedFiles = KXUIScan::instance().GetScanFileCnt();
    }
    KXUIController::JoinWorkers();
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
    SetBridgeClock(nullptr);
    return run;
}

int Smoke(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string path = (folder / "smoke.rsf").string();
    const Tree tree(20000);
    const bool saved = SaveTree(tree, path);
    const size_t loaded = saved ? LoadTree(path) : 0;
    fs::remove(path, ec);
    std::printf("smoke: %zu nodes saved %s, %zu loaded\n", tree.nodes.size(), saved ? "whole" : "FAILED", loaded);
    const bool ok = saved && loaded == tree.nodes.size();
    if (!ok) std::fprintf(stderr, "smoke run failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--smoke") == 0) return Smoke(argv[2]);
    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path();
    const size_t count = argc > 2 ? size_t(std::atoll(argv[2])) : 1000000;
    const int fatFiles = argc > 3 ? std::atoi(argv[3]) : 100000;
    fs::create_directories(folder);

    const std::string path = (folder / "tree.rsf").string();
    Phase build, save, load;
    std::unique_ptr<Tree> tree;
    build = Measure([&] {
        tree = std::make_unique<Tree>(count);
        return true;
    });
    save = Measure([&] { return SaveTree(*tree, path); });
    size_t loaded = 0;
    load = Measure([&] { return (loaded = LoadTree(path)) > 0; });
    const u64 bytes = fs::exists(path) ? fs::file_size(path) : 0;
    const double dd = DdSeconds(path);
    std::printf("tree of %zu nodes (built in %.3f s, peak %.0f MiB), saved file %.1f MiB\n", tree->nodes.size(),
                build.seconds, build.peak, bytes / 1048576.0);
    std::printf("save:  %.3f s  peak %.0f MiB  %.1f MiB/s\n", save.seconds, save.peak, bytes / 1048576.0 / save.seconds);
    std::printf("load:  %.3f s  peak %.0f MiB  (%zu nodes in the builder)\n", load.seconds, load.peak, loaded);
    std::printf("dd bs=1M conv=fsync of the saved file: %.3f s  %.1f MiB/s  (save / dd rate = %.2f)\n", dd,
                bytes / 1048576.0 / dd, dd / save.seconds);
    const size_t nodes = tree->nodes.size();
    tree.reset();
    fs::remove(path);

    const std::string image = bridgebench::MakeImage(folder, fatFiles);
    if (image.empty()) return 1;
    TimeCommand("cat '" + image + "' > /dev/null");
    const std::string fatSaved = (folder / "fat.rsf").string();
    const ControllerRun run = FatThroughTheController(image, fatSaved);
    const double fatDd = run.bytes ? DdSeconds(fatSaved) : -1;
    std::printf("%s through the controller: deep scan %.3f s (%llu files)\n", image.c_str(), run.scan.seconds,
                (unsigned long long)run.files);
    std::printf("save:  %.3f s  peak %.0f MiB  file %.1f MiB\n", run.save.seconds, run.save.peak, run.bytes / 1048576.0);
    std::printf("load:  %.3f s  peak %.0f MiB  (%llu files found again)\n", run.load.seconds, run.load.peak,
                (unsigned long long)run.loadedFiles);
    std::printf("dd bs=1M conv=fsync of the saved file: %.3f s  (save / dd rate = %.2f)\n", fatDd,
                fatDd / run.save.seconds);
    fs::remove(fatSaved);
    const bool ok = run.files > 0 && run.files == run.loadedFiles && loaded == nodes;
    if (!ok) std::fprintf(stderr, "a save or load lost nodes\n");
    return ok ? 0 : 1;
}
