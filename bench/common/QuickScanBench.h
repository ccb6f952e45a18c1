// The quick-scan benchmark of one file system against `fls -r -p` on the same image, shared by the
// benchmarks of each quick searcher. It warms the page cache, then times, round after round, and
// reports the median of each:
//  - fls -r -p;
//  - the engine driver, whole: brelvox-scan --quick --list FILE, as a process (it includes the tree
//    builder's fixed 1 s pause on its first publish);
//  - the same driver path in this process (the driver's session: volume recognition, controller, quick
//    searcher, tree builder, receiver, list), with the builder's first-publish pause injected to zero,
//    and its phases;
//  - the quick searcher alone, with a tree builder that only counts.
// The engine prints debug lines on standard output: they go to /dev/null while it runs.
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

#include "ScanSession.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/EnumDevice/DeviceInfoStructs.h"
#include "engine/EnumDevice/IDeviceData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/IFileNode.h"

namespace quickbench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double TimeCommand(const std::string& command) {
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
    // Kept until the end: a searcher may go on reading the folder nodes it handed over.
    int AddNode(IFileNode* node, _tagSearcherType) override {
        ++nodes;
        deleted += node->IsDeleted() ? 1 : 0;
        kept.push_back(node);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType, i64) override { return 1; }
    void FlashBuild(_tagSearcherType) override {}
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}
    long nodes = 0;
    long deleted = 0;
    std::vector<IFileNode*> kept;
};

class QuietProgress : public IProgress {
public:
    int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

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

struct Bench {
    std::string image;
    std::string list;          // the driver writes its list to a plain file only
    std::string flsOptions;    // e.g. "-f hfsp"
    std::string searcherName;  // "FAT", "HFS+"
    u32 fileSystemType = 0;    // recorded on the volume as device enumeration would
    IQuickFileSystemSearchController* (*create)() = nullptr;
    int files = 0;
    int rounds = 5;
};

// Seconds of one in-process quick search, and the node counts.
inline double SearchOnce(const Bench& b, long& nodes, long& deleted) {
    QuietStdout quiet;
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(b.image.c_str()));
    if (!device || device->Open(b.image.c_str()) == 0) return -1;
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = b.fileSystemType;
    device->SetPrivateData(CreateVolumeDeviceData(record));
    CountingBuilder builder;
    QuietProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(b.create());
    searcher->SetDirecotryTreeBuilder(&builder);
    const auto start = Clock::now();
    const u64 code = searcher->QuickSearchFiles(device.get(), &progress);
    const double s = Seconds(Clock::now() - start);
    nodes = builder.nodes;
    deleted = builder.deleted;
    return code == 0 ? s : -1;
}

struct DriverTimes {
    double scan = -1, list = -1, end = -1, total = -1;
};

// The driver's path in this process, phase by phase, without the first-publish pause.
inline DriverTimes DriverInProcess(const Bench& b) {
    DriverTimes t;
    QuietStdout quiet;
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    scan::Options options;
    options.quick = true;
    options.listPath = b.list;
    options.source = b.image;
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

inline double Median(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Times everything and prints the report; 0 when it ran.
inline int Run(const Bench& b) {
    const std::string self = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string driver = self + "/../../tools/brelvox-scan";
    TimeCommand("cat '" + b.image + "' > /dev/null");  // page cache warm

    const bool haveDriver = std::filesystem::exists(driver);
    std::vector<double> fls, whole, path, scanPhase, listPhase, endPhase, search;
    long nodes = 0, deleted = 0;
    for (int r = 0; r < b.rounds; ++r) {
        fls.push_back(TimeCommand("fls " + b.flsOptions + " -r -p '" + b.image + "' > /dev/null"));
        if (haveDriver)
            whole.push_back(TimeCommand("'" + driver + "' --quick --list '" + b.list + "' '" + b.image + "' > /dev/null 2>&1"));
        const DriverTimes t = DriverInProcess(b);
        path.push_back(t.total);
        scanPhase.push_back(t.scan);
        listPhase.push_back(t.list);
        endPhase.push_back(t.end);
        search.push_back(SearchOnce(b, nodes, deleted));
    }
    const double f = Median(fls), w = Median(whole), p = Median(path), s = Median(search);
    std::printf("%s, %d files, median of %d rounds\n", b.image.c_str(), b.files, b.rounds);
    std::printf("fls -r -p:                                   %.3f s\n", f);
    if (w > 0)
        std::printf("brelvox-scan --quick, whole process:         %.3f s  (fls / driver = %.2f)\n", w, f / w);
    else
        std::printf("brelvox-scan --quick: not built (%s)\n", driver.c_str());
    if (p > 0) {
        std::printf("driver path in-process, no 1 s publish pause: %.3f s  (fls / driver = %.2f)\n", p, f / p);
        std::printf("  scan %.3f s, list %.3f s, teardown %.3f s\n", Median(scanPhase), Median(listPhase),
                    Median(endPhase));
    }
    const std::string label = "quick " + b.searcherName + " searcher alone:";
    std::printf("%-45s%.3f s  (fls / searcher = %.2f), %ld nodes, %ld deleted\n", label.c_str(), s, f / s, nodes,
                deleted);
    return 0;
}

}  // namespace quickbench
