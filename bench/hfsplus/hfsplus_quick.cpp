// Quick HFS+ scan of a journaled volume with 100,000 files, against `fls -r -p` on the same image.
//
// Makes the image once with the test-side HFS+ writer (kept in the given folder): FILES small files in
// folders of 200, 512-byte allocation blocks, 8 KiB catalog nodes, and one folder in a hundred deleted
// (its records only in the journal). Warms the page cache, then times, round after round, and reports
// the median of each:
//  - fls -r -p;
//  - the engine driver, whole: brelvox-scan --quick --list FILE, as a process (it includes the
//    tree builder's fixed 1 s pause on its first publish);
//  - the same driver path in this process with that pause injected to zero, and its phases;
//  - the quick HFS+ searcher alone, with a tree builder that only counts.
// Usage: hfsplus_quick [folder for the image] [files] [rounds]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ScanSession.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/EnumDevice/DeviceInfoStructs.h"
#include "engine/EnumDevice/IDeviceData.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/IFileNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/HfsPlusWriter.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace hfs = testsupport::hfs;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return -1;
    }
    return Seconds(Clock::now() - start);
}

bool MakeImage(const std::string& path, int files) {
    constexpr int kPerFolder = 200;
    const int folders = (files + kPerFolder - 1) / kPerFolder;
    hfs::Options options;
    options.blockSize = 512;
    options.catalogNodeSize = 8192;
    options.journaled = true;
    options.journalSize = 4 << 20;
    // Blocks: one per file, the catalog (about 420 bytes a file), the journal, and room to spare.
    options.totalBlocks = u32(files) + u32(u64(files) * 900 / 512) + (8 << 20) / 512 + 4096;
    options.volumeName = "BENCH";
    hfs::Writer writer(options);
    for (int i = 0; i < files; ++i) {
        const int folder = i / kPerFolder;
        char name[96];
        std::snprintf(name, sizeof name, "tree/folder %04d/a file with a long name %06d.txt", folder, i);
        hfs::Entry e;
        e.path = name;
        e.data = "content of file " + std::to_string(i) + "\n";
        e.deleted = folder % 100 == 0;
        writer.Add(std::move(e));
    }
    for (int folder = 0; folder < folders; folder += 100) {
        hfs::Entry e;
        e.kind = hfs::Entry::Kind::Folder;
        char name[48];
        std::snprintf(name, sizeof name, "tree/folder %04d", folder);
        e.path = name;
        e.deleted = true;
        writer.Add(std::move(e));
    }
    try {
        const std::vector<u8> image = writer.Build();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        return bool(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

class CountingBuilder : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    ~CountingBuilder() override {
        for (IFileNode* node : kept) node->Release();
    }
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

// The engine prints debug lines on standard output: sent to /dev/null while it runs.
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

// Seconds of one in-process quick search, and the node counts.
double SearchOnce(const std::string& image, long& nodes, long& deleted) {
    QuietStdout quiet;
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    if (!device || device->Open(image.c_str()) == 0) return -1;
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = FILE_SYSTEM_HFSPLUS;
    device->SetPrivateData(CreateVolumeDeviceData(record));
    CountingBuilder builder;
    QuietProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateHFSPlusQuickSearcher());
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

// The driver's path in this process: what brelvox-scan --quick --list does, phase by phase. The tree
// builder's first-publish pause is injected to zero for this run only.
DriverTimes DriverInProcess(const std::string& image, const std::string& list) {
    DriverTimes t;
    QuietStdout quiet;
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

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    const std::string image = (folder / ("hfsplus-bench-" + std::to_string(files) + ".img")).string();
    // The driver writes its list to a plain file only.
    const std::string list = (folder / "hfsplus-bench.list").string();
    const std::string self = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string driver = self + "/../../tools/brelvox-scan";
    if (!std::filesystem::exists(image)) {
        std::printf("making %s (%d files)...\n", image.c_str(), files);
        if (!MakeImage(image, files)) return 1;
    }
    TimeCommand("cat '" + image + "' > /dev/null");  // page cache warm

    const bool haveDriver = std::filesystem::exists(driver);
    std::vector<double> fls, whole, path, scanPhase, listPhase, endPhase, search;
    long nodes = 0, deleted = 0;
    for (int r = 0; r < rounds; ++r) {
        fls.push_back(TimeCommand("fls -f hfsp -r -p '" + image + "' > /dev/null"));
        if (haveDriver)
            whole.push_back(TimeCommand("'" + driver + "' --quick --list '" + list + "' '" + image + "' > /dev/null 2>&1"));
        const DriverTimes t = DriverInProcess(image, list);
        path.push_back(t.total);
        scanPhase.push_back(t.scan);
        listPhase.push_back(t.list);
        endPhase.push_back(t.end);
        search.push_back(SearchOnce(image, nodes, deleted));
    }
    const double f = Median(fls), w = Median(whole), p = Median(path), s = Median(search);
    std::printf("%s, %d files, median of %d rounds\n", image.c_str(), files, rounds);
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
    std::printf("quick HFS+ searcher alone:                   %.3f s  (fls / searcher = %.2f), %ld nodes, %ld deleted\n",
                s, f / s, nodes, deleted);
    return 0;
}
