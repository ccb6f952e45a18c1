// Quick FAT scan of a FAT32 image with 100,000 files, against `fls -r -p` on the same image.
//
// Makes the image once (make-image.sh, kept in the given folder), warms the page cache, then times
// in one run: fls -r -p, the engine driver's quick scan (brelvox-scan --quick --list) and the quick
// FAT searcher alone with a tree builder that only counts. Prints the times and the ratios.
// Usage: fat_quick [folder for the image] [files] [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/EnumDevice/DeviceInfoStructs.h"
#include "engine/EnumDevice/IDeviceData.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/IFileNode.h"

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

// Seconds of one in-process quick search, and the node count.
double SearchOnce(const std::string& image, long& nodes) {
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    if (!device || device->Open(image.c_str()) == 0) return -1;
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = 2;
    device->SetPrivateData(CreateVolumeDeviceData(record));
    CountingBuilder builder;
    QuietProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
    searcher->SetDirecotryTreeBuilder(&builder);
    const auto start = Clock::now();
    const u64 code = searcher->QuickSearchFiles(device.get(), &progress);
    const double s = Seconds(Clock::now() - start);
    nodes = builder.nodes;
    return code == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string image = (folder / ("fat32-bench-" + std::to_string(files) + ".img")).string();
    const std::string self = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string driver = self + "/../../tools/brelvox-scan";
    if (!std::filesystem::exists(image)) {
        std::printf("making %s (%d files)...\n", image.c_str(), files);
        const std::string make =
            std::string(BRELVOX_BENCH_FAT_DIR) + "/make-image.sh '" + image + "' " + std::to_string(files);
        if (std::system(make.c_str()) != 0) return 1;
    }
    TimeCommand("cat '" + image + "' > /dev/null");  // page cache warm

    double fls = 1e9, scan = 1e9, search = 1e9;
    long nodes = 0;
    for (int r = 0; r < rounds; ++r) {
        fls = std::min(fls, TimeCommand("fls -r -p '" + image + "' > /dev/null"));
        if (std::filesystem::exists(driver)) {
            scan = std::min(scan,
                            TimeCommand("'" + driver + "' --quick --list /dev/null '" + image + "' > /dev/null 2>&1"));
        }
        search = std::min(search, SearchOnce(image, nodes));
    }
    std::printf("fls -r -p:                 %.3f s\n", fls);
    if (scan < 1e9) std::printf("brelvox-scan --quick:      %.3f s  (fls / scan = %.2f)\n", scan, fls / scan);
    std::printf("quick FAT searcher alone:  %.3f s  (fls / searcher = %.2f), %ld nodes\n", search, fls / search, nodes);
    return 0;
}
