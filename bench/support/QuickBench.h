// The quick-scan benchmark shared by the file systems: a quick scan of an image of many files against
// `fls -r -p` on the same image. Makes the image once (the file system's script, kept in the given
// folder), warms the page cache, then times, round after round (fls and ours alternate; the runs in
// this process come after those of processes), and reports the median of each and the median of the
// rounds' ratios:
//  - fls -r -p;
//  - the engine driver, whole: brelvox-scan --quick --list FILE, as a process: wall time, processor
//    time over wall time (a scan waits for its reads asleep: at most 1.1), peak memory and the bytes
//    per file above the peak of the same scan of a volume of 300 files (target at most 200);
//  - the same driver path in this process (the driver's session: volume recognition, controller,
//    quick searcher, tree builder, receiver, list), and its phases;
//  - the quick searcher alone, with a tree builder that only counts.
// Usage of a benchmark: NAME [folder for the image] [files] [rounds]
//                       NAME --smoke [folder]   (the test run's check: 300 files, one round, no fls;
//                                                fails when a path fails)
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "Machine.h"
#include "brelvox-scan/ScanSession.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/IFileNode.h"

struct QuickBench {
    std::string imagePrefix;   // the image is <folder>/<prefix><files>.img
    std::string makeScript;    // called as SCRIPT IMAGE FILES
    QuickSearcherFactory create;
    u32 fileSystemType;        // as device enumeration records it
    std::string searcherName;  // "quick FAT searcher"
    bool imageNeedsFuse = false;  // the script mounts the image (root and FUSE)
};

namespace quickbench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return -1;
    }
    return Seconds(Clock::now() - start);
}

class CountingBuilder : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    ~CountingBuilder() override {
        for (IFileNode* node : kept) node->Release();
    }
    // Kept until the end: the searcher goes on reading the folder nodes it handed over.
    int AddNode(IFileNode* node, _tagSearcherType) override {
        ++nodes;
        kept.push_back(node);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType, i64) override { return 1; }
    void FlashBuild(_tagSearcherType) override {}
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}
    long nodes = 0;
    std::vector<IFileNode*> kept;
};

class QuietProgress : public IProgress {
public:
    int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

// The bridge's scans print their steps on standard output: sent to /dev/null while they run.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
    }

private:
    int m_saved = -1;
};

// Seconds of one in-process quick search, and the node count.
double SearchOnce(const std::string& image, QuickSearcherFactory create, u32 fileSystemType, long& nodes) {
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    if (!device || device->Open(image.c_str()) == 0) return -1;
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = fileSystemType;
    device->SetPrivateData(CreateVolumeDeviceData(record));
    CountingBuilder builder;
    QuietProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(create());
    searcher->SetDirecotryTreeBuilder(&builder);
    const auto start = Clock::now();
    const u64 code = searcher->QuickSearchFiles(device.get(), &progress);
    const double s = Seconds(Clock::now() - start);
    nodes = builder.nodes;
    return code == 0 ? s : -1;
}

struct DriverTimes {
    double scan = -1, list = -1, end = -1, total = -1;
};

// The driver's path in this process: what brelvox-scan --quick --list does, phase by phase, without the
// tree builder's first-publish pause, as the driver runs it.
DriverTimes DriverInProcess(const std::string& image, const std::string& list) {
    DriverTimes t;
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    scan::Options options;
    options.quick = true;
    options.listPath = list;
    options.source = image;
    const auto start = Clock::now();
    {
        scan::ScanSession session(options);
        std::string reason;
        const bool ok = session.Run(reason);
        const auto scanned = Clock::now();
        const bool listed = ok && session.WriteList(reason);
        const auto written = Clock::now();
        if (ok && listed) {
            t.scan = Seconds(scanned - start);
            t.list = Seconds(written - scanned);
        } else {
            std::fprintf(stderr, "in-process driver: %s\n", reason.c_str());
        }
    }
    const auto ended = Clock::now();
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
    if (t.scan < 0) return DriverTimes{};
    t.total = Seconds(ended - start);
    t.end = t.total - t.scan - t.list;
    return t;
}

double Median(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace
}  // namespace quickbench

// The whole benchmark: makes the image once with the script, warms the page cache, times fls, the driver
// as a process, the driver path in-process and the searcher alone, and prints the medians.
inline int RunQuickBench(const QuickBench& bench, int argc, char** argv) {
    const bool smoke = argc > 1 && std::string(argv[1]) == "--smoke";
    if (smoke) {
        --argc;
        ++argv;
    }
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    constexpr int kSmallVolume = 300;
    const int files = smoke ? kSmallVolume : argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = smoke ? 1 : std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    auto imageOf = [&](int count) { return (folder / (bench.imagePrefix + std::to_string(count) + ".img")).string(); };
    const std::string image = imageOf(files);
    const std::string self = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string driver = self + "/../../tools/brelvox-scan";
    if (smoke && bench.imageNeedsFuse && (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)) {
        // Told as the test suites tell a skip, so the test command counts it with its reason.
        std::printf("smoke: Skipped\nneeds root and FUSE to make the image\n[  SKIPPED ] %s\n", bench.searcherName.c_str());
        return 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // The smoke run makes its image every time: the script is part of what it checks.
    if (smoke) std::filesystem::remove(image, ec);
    auto make = [&](const std::string& path, int count) {
        if (std::filesystem::exists(path)) return true;
        std::printf("making %s (%d files)...\n", path.c_str(), count);
        return std::system((bench.makeScript + " '" + path + "' " + std::to_string(count)).c_str()) == 0;
    };
    if (!make(image, files)) return 1;
    // The fixed part of the driver's memory: its peak on a volume of a few files.
    const std::string small = imageOf(kSmallVolume);
    if (!smoke && !make(small, kSmallVolume)) return 1;
    quickbench::TimeCommand("cat '" + image + "' > /dev/null");  // page cache warm
    const double loadBefore = machine::LoadAverage();

    const bool haveDriver = std::filesystem::exists(driver);
    // The driver writes its list only into a plain file.
    const std::string list = (folder / (bench.imagePrefix + "list.txt")).string();
    auto runDriver = [&](const std::string& source) {
        deepbench::Child c = deepbench::Run({driver, "--quick", "--list", list, source}, "", true);
        if (c.status != 0) c.wall = -1;
        return c;
    };
    std::vector<double> fls, whole, ratios, cpuShares, peaks, path, scanPhase, listPhase, endPhase, search;
    long nodes = 0;
    // The processes first, while this one is small: a child's peak memory counts what it was forked from.
    std::vector<double> smallPeaks;
    for (int r = 0; haveDriver && !smoke && r < 3; ++r) {
        const deepbench::Child d = runDriver(small);
        if (d.wall > 0) smallPeaks.push_back(static_cast<double>(d.maxrssKiB) * 1024.0);
    }
    for (int r = 0; r < rounds; ++r) {
        double flsWall = -1;
        if (!smoke) {
            const deepbench::Child f = deepbench::Run({"fls", "-r", "-p", image}, "", true);
            flsWall = f.status == 0 ? f.wall : -1;
            fls.push_back(flsWall);
        }
        if (haveDriver) {
            const deepbench::Child d = runDriver(image);
            whole.push_back(d.wall);
            if (d.wall > 0) {
                cpuShares.push_back(d.cpu / d.wall);
                peaks.push_back(static_cast<double>(d.maxrssKiB) * 1024.0);
                if (flsWall > 0) ratios.push_back(d.wall / flsWall);
            }
        }
    }
    for (int r = 0; r < rounds; ++r) {
        const quickbench::DriverTimes t = quickbench::DriverInProcess(image, list);
        path.push_back(t.total);
        scanPhase.push_back(t.scan);
        listPhase.push_back(t.list);
        endPhase.push_back(t.end);
        search.push_back(quickbench::SearchOnce(image, bench.create, bench.fileSystemType, nodes));
    }
    using quickbench::Median;
    const double f = Median(fls), w = Median(whole);
    const double p = Median(path), s = Median(search);
    if (smoke) {
        // Every path ran and found the files: the benchmark still measures what it claims to.
        std::printf("smoke: %s, %d files: driver %.3f s, driver path %.3f s, searcher %.3f s, %ld nodes\n",
                    image.c_str(), files, w, p, s, nodes);
        // The scripts keep all but the first folder of 200 files live.
        const bool ok = (!haveDriver || w > 0) && p > 0 && s > 0 && nodes >= files - 200;
        if (!ok) std::fprintf(stderr, "smoke run failed\n");
        return ok ? 0 : 1;
    }
    std::printf("%s, %d files, median of %d rounds; load %.1f before, %.1f after (%d cores)\n", image.c_str(), files,
                rounds, loadBefore, machine::LoadAverage(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    std::printf("fls -r -p:                                   %.3f s\n", f);
    if (w > 0) {
        const double peak = Median(peaks), fixed = Median(smallPeaks);
        std::printf("brelvox-scan --quick, whole process:         %.3f s  (ours / fls = %.3f, median of the rounds' "
                    "ratios)\n", w, Median(ratios));
        std::printf("  processor time / wall time                 %.2f (target at most 1.1)\n", Median(cpuShares));
        std::printf("  peak memory %.1f MiB, %.1f MiB for %d files: %.0f bytes per file (target at most 200)\n",
                    peak / 1048576.0, fixed / 1048576.0, kSmallVolume, (peak - fixed) / (files - kSmallVolume));
    } else {
        std::printf("brelvox-scan --quick: not built (%s)\n", driver.c_str());
    }
    if (p > 0) {
        std::printf("driver path in-process:                      %.3f s  (ours / fls = %.3f)\n", p, p / f);
        std::printf("  scan %.3f s, list %.3f s, teardown %.3f s\n", Median(scanPhase), Median(listPhase),
                    Median(endPhase));
    }
    std::printf("%-45s%.3f s  (ours / fls = %.3f), %ld nodes\n", (bench.searcherName + " alone:").c_str(), s, s / f,
                nodes);
    return 0;
}
