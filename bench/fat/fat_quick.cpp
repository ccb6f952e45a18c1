// Quick FAT scan of a FAT32 image with 100,000 files, against `fls -r -p` on the same image: the image is
// made once (make-image.sh, kept in the given folder); what is timed is said in QuickBench.h.
// Usage: fat_quick [folder for the image] [files] [rounds]
#include "QuickBench.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    quickbench::Setup setup;
    setup.files = argc > 2 ? std::atoi(argv[2]) : 100000;
    setup.rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    setup.image = (folder / ("fat32-bench-" + std::to_string(setup.files) + ".img")).string();
    setup.makeCommand =
        std::string(BRELVOX_BENCH_FAT_DIR) + "/make-image.sh '" + setup.image + "' " + std::to_string(setup.files);
    setup.fileSystemType = FILE_SYSTEM_FAT32;
    setup.create = CreateFATQuickSearcher;
    setup.searcherName = "quick FAT searcher";
    return quickbench::Run(setup);
}
