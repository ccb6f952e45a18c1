// Quick FAT scan of a FAT32 image with 100,000 files, against `fls -r -p` on the same image
// (bench/common/QuickScanBench.h says what is timed).
//
// Makes the image once (make-image.sh, kept in the given folder).
// Usage: fat_quick [folder for the image] [files] [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/QuickScanBench.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    quickbench::Bench bench;
    bench.files = argc > 2 ? std::atoi(argv[2]) : 100000;
    bench.rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    bench.image = (folder / ("fat32-bench-" + std::to_string(bench.files) + ".img")).string();
    bench.list = (folder / "fat32-bench.list").string();
    bench.searcherName = "FAT";
    bench.fileSystemType = FILE_SYSTEM_FAT32;
    bench.create = CreateFATQuickSearcher;
    if (!std::filesystem::exists(bench.image)) {
        std::printf("making %s (%d files)...\n", bench.image.c_str(), bench.files);
        const std::string make =
            std::string(BRELVOX_BENCH_FAT_DIR) + "/make-image.sh '" + bench.image + "' " + std::to_string(bench.files);
        if (std::system(make.c_str()) != 0) return 1;
    }
    return quickbench::Run(bench);
}
